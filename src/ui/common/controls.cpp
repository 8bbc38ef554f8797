#include "ui/common/controls.h"

#include "platform/window_handles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

using namespace Qt::StringLiterals;
using platform::twipsToPixels;

// Outside any namespace: the macro declares the resource's initialiser where
// it stands.
static void initImageResource()
{
    Q_INIT_RESOURCE(vantelo);
}

namespace Controls {

namespace {

// A frame drawn the same in every style: a dark grey line all round, which
// shows on the light grey windows too, with the caption on the top line a
// little in from the left and the line stopping either side of it. Controls
// inside keep the places they are given.
class CaptionFrame final : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        const QString caption = title();
        const int lineTop = caption.isEmpty() ? 0 : metrics.height() / 2;
        const QRect line = rect().adjusted(0, lineTop, -1, -1);
        painter.setPen(QColor(128, 128, 128));
        if (caption.isEmpty()) {
            painter.drawRect(line);
            return;
        }
        // The line, a gap, the caption, a gap, the line again.
        const QRect text(LineBeforeCaption + CaptionGap + 1, 0, metrics.horizontalAdvance(caption),
                         metrics.height());
        const int lineAgain = text.right() + CaptionGap + 1;
        painter.drawLine(line.topLeft(), QPoint(LineBeforeCaption, line.top()));
        if (lineAgain < line.right())
            painter.drawLine(QPoint(lineAgain, line.top()), line.topRight());
        painter.drawLine(line.topRight(), line.bottomRight());
        painter.drawLine(line.bottomRight(), line.bottomLeft());
        painter.drawLine(line.bottomLeft(), line.topLeft());
        style()->drawItemText(&painter, text, Qt::AlignLeft | Qt::AlignTop | Qt::TextHideMnemonic,
                              palette(), isEnabled(), caption, QPalette::WindowText);
    }

private:
    static constexpr int LineBeforeCaption = 5;
    static constexpr int CaptionGap = 3;
};

} // namespace

void placeTwips(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                   twipsToPixels(height));
}

void registerImages()
{
    [[maybe_unused]] static const bool registered = (initImageResource(), true);
}

QFont formFont(bool bold)
{
    QFont font;
    font.setFamilies({u"Microsoft Sans Serif"_s, u"Arial"_s, u"Liberation Sans"_s, u"Nimbus Sans"_s,
                      QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8);
    font.setBold(bold);
    return font;
}

void useFormFont()
{
    QApplication::setFont(formFont());
}

QFont arialFont(qreal points, bool bold)
{
    QFont font;
    font.setFamilies({u"Arial"_s, u"Liberation Sans"_s, u"Nimbus Sans"_s});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void setUpWindow(QWidget *window, const QString &name, const QString &caption, Border border,
                 int width, int height)
{
    registerImages();
    window->setObjectName(name);
    window->setWindowTitle(caption);
    if (border == Border::FixedToolWindow) {
        window->setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint |
                               Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint);
    } else {
        // The system menu stays: on Windows the minimise and close boxes need it.
        window->setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint |
                               Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint);
    }
    window->setFixedSize(twipsToPixels(width), twipsToPixels(height));
}

void setBackColor(QWidget *w, const QColor &color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, color);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

void setForeColor(QWidget *w, const QColor &color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, color);
    w->setPalette(pal);
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, int left, int top,
                  int width, int height, Fit fit)
{
    auto *label = named(new QLabel(text, parent), name);
    // Captions and figures are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(label, left, top, width, height);
    if (fit == Fit::WidenToCaption && !text.isEmpty())
        widenToFit(label, text);
    return label;
}

QLabel *makeAutoSizeLabel(QWidget *parent, const QString &name, const QString &text, int left,
                          int top)
{
    auto *label = named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->move(twipsToPixels(left), twipsToPixels(top));
    label->adjustSize();
    return label;
}

void widenToFit(QLabel *label, const QString &caption)
{
    // A pixel either side for the glyphs that reach past their advance.
    const int needed = label->fontMetrics().horizontalAdvance(caption) + 2 * label->margin() +
                       2 * label->frameWidth() + 2;
    if (needed > label->width())
        label->resize(needed, label->height());
}

void keepClearOfCaption(const QLabel *caption, QWidget *control)
{
    const QFontMetrics metrics = caption->fontMetrics();
    const int clear =
        caption->x() + metrics.horizontalAdvance(caption->text()) + metrics.horizontalAdvance(u' ');
    if (control->x() < clear)
        control->move(clear, control->y());
}

QLabel *makePicture(QWidget *parent, const QString &name, const QString &image, int left, int top,
                    int width, int height)
{
    QLabel *picture = makeLabel(parent, name, QString(), left, top, width, height, Fit::KeepPlace);
    picture->setPixmap(QPixmap(image));
    return picture;
}

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &text, int left,
                        int top, int width, int height, EnterKey enter)
{
    auto *button = named(new QPushButton(text, parent), name);
    button->setAutoDefault(enter == EnterKey::Presses);
    placeTwips(button, left, top, width, height);
    return button;
}

QPushButton *makePictureButton(QWidget *parent, const QString &name, const QString &image, int left,
                               int top, int width, int height)
{
    QPushButton *button = makeButton(parent, name, QString(), left, top, width, height);
    button->setIcon(QIcon(image));
    button->setIconSize(QSize(16, 16));
    return button;
}

QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &title, int left, int top,
                     int width, int height)
{
    auto *frame = named(new CaptionFrame(title, parent), name);
    placeTwips(frame, left, top, width, height);
    return frame;
}

QLineEdit *makeTextBox(QWidget *parent, const QString &name, const QString &text, int left, int top,
                       int width, int height)
{
    auto *box = named(new QLineEdit(text, parent), name);
    placeTwips(box, left, top, width, height);
    return box;
}

QComboBox *makeComboBox(QWidget *parent, const QString &name, bool editable, int left, int top,
                        int width, int height)
{
    auto *combo = named(new QComboBox(parent), name);
    combo->setEditable(editable);
    // Typing into the box edits its text; it never adds items by itself.
    combo->setInsertPolicy(QComboBox::NoInsert);
    placeTwips(combo, left, top, width, height);
    return combo;
}

QCheckBox *makeCheckBox(QWidget *parent, const QString &name, const QString &text, int left,
                        int top, int width, int height)
{
    auto *check = named(new QCheckBox(text, parent), name);
    placeTwips(check, left, top, width, height);
    return check;
}

QRadioButton *makeOptionButton(QWidget *parent, const QString &name, const QString &text, int left,
                               int top, int width, int height)
{
    auto *option = named(new QRadioButton(text, parent), name);
    placeTwips(option, left, top, width, height);
    return option;
}

} // namespace Controls
