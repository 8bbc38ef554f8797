#include "ui/common/shown_text.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QPointer>

namespace {

class Trace : public QObject
{
public:
    explicit Trace(const QString &path) : m_file(path)
    {
        // Appended to, so a second start's lines follow the first's.
        m_opened = m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    }

    void note(const QString &where, const QString &text)
    {
        if (!m_opened)
            return;
        auto last = m_last.find(where);
        if (last != m_last.end() && *last == text)
            return;
        m_last.insert(where, text);
        QString line = where + QStringLiteral(": ") + text;
        line.replace(u'\n', u' ');
        m_file.write(line.toUtf8() + '\n');
        m_file.flush();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            if (const auto *label = qobject_cast<QLabel *>(watched);
                label && !label->objectName().isEmpty()) {
                const QWidget *window = label->window();
                note(window->objectName() + u'.' + label->objectName(), label->text());
            }
        }
        return false;
    }

private:
    QFile m_file;
    bool m_opened = false;
    QHash<QString, QString> m_last;
};

QPointer<Trace> trace;

} // namespace

namespace shown_text {

void watch(QApplication &app)
{
    const QString path = qEnvironmentVariable("VANTELO_TRACE");
    if (path.isEmpty() || trace)
        return;
    trace = new Trace(path);
    trace->setParent(&app);
    app.installEventFilter(trace);
}

void noteTrayTip(const QString &text)
{
    if (trace)
        trace->note(QStringLiteral("tray.tip"), text);
}

} // namespace shown_text
