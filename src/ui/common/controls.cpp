#include "ui/common/controls.h"

#include "platform/window_handles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
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

int g_captionMeasurements = 0;

// A frame drawn the same in every style: a dark grey line all round, which
// shows on the light grey windows too, with the caption on the top line a
// little in from the left and the line stopping either side of it. Controls
// inside keep the places they are given.
//
// The frame is painted again for every control inside it that repaints (a
// text box's blinking cursor, a label's new figure), each time for a small
// part of it: the caption is measured once, again only when the caption or
// the font changes, and only the parts of the frame in the damaged area are
// drawn.
class CaptionFrame final : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            m_measured = false;
        QGroupBox::changeEvent(event);
    }

    void paintEvent(QPaintEvent *event) override
    {
        const QString caption = title();
        if (!m_measured || caption != m_caption)
            measure(caption);
        const QRect damaged = event->rect();
        const QRect line = rect().adjusted(0, m_lineTop, -1, -1);
        // The line is a pixel wide: what is inside it needs no painting.
        if (line.adjusted(1, 1, -1, -1).contains(damaged) && !damaged.intersects(m_captionRect))
            return;
        QPainter painter(this);
        painter.setPen(QColor(128, 128, 128));
        if (m_caption.isEmpty()) {
            painter.drawRect(line);
            return;
        }
        // The line, a gap, the caption, a gap, the line again.
        const int lineAgain = m_captionRect.right() + CaptionGap + 1;
        painter.drawLine(line.topLeft(), QPoint(LineBeforeCaption, line.top()));
        if (lineAgain < line.right())
            painter.drawLine(QPoint(lineAgain, line.top()), line.topRight());
        painter.drawLine(line.topRight(), line.bottomRight());
        painter.drawLine(line.bottomRight(), line.bottomLeft());
        painter.drawLine(line.bottomLeft(), line.topLeft());
        if (damaged.intersects(m_captionRect))
            style()->drawItemText(&painter, m_captionRect,
                                  Qt::AlignLeft | Qt::AlignTop | Qt::TextHideMnemonic, palette(),
                                  isEnabled(), m_caption, QPalette::WindowText);
    }

private:
    void measure(const QString &caption)
    {
        ++g_captionMeasurements;
        const QFontMetrics metrics = fontMetrics();
        m_caption = caption;
        m_lineTop = caption.isEmpty() ? 0 : metrics.height() / 2;
        m_captionRect = caption.isEmpty()
                            ? QRect()
                            : QRect(LineBeforeCaption + CaptionGap + 1, 0,
                                    metrics.horizontalAdvance(caption), metrics.height());
        m_measured = true;
    }

    static constexpr int LineBeforeCaption = 5;
    static constexpr int CaptionGap = 3;

    bool m_measured = false;
    QString m_caption;
    int m_lineTop = 0;
    QRect m_captionRect;
};

// A push button that Enter presses when it has the focus, as Space does: the
// user of a keyboard expects the key to act on the button in focus. A button
// of a dialog otherwise lets Enter go to the dialog, which presses its default
// button, if any.
class CommandButton final : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        if (enter && modifiers == Qt::NoModifier) {
            event->accept();
            if (isEnabled())
                click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// Marks a combo box announced by its accessible name.
constexpr char SpokenNameProperty[] = "vanteloSpokenName";
// Marks a window that setUpWindow made.
constexpr char WindowProperty[] = "vanteloWindow";

// A combo box as screen readers see it. On this system Qt announces a combo
// box by its text: an empty login box would have no name at all, and a
// filled one would be read as what was typed in it. This one is announced by
// its accessible name, and its text is its value.
class NamedComboAccessible final : public QAccessibleWidget
{
public:
    explicit NamedComboAccessible(QComboBox *combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox)
    {}

    QString text(QAccessible::Text t) const override
    {
        const auto *combo = static_cast<const QComboBox *>(widget());
        if (t == QAccessible::Name)
            return combo->accessibleName();
        if (t == QAccessible::Value)
            return combo->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        st.editable = static_cast<const QComboBox *>(widget())->isEditable();
        return st;
    }
};

QAccessibleInterface *namedComboFactory(const QString &, QObject *object)
{
    auto *combo = qobject_cast<QComboBox *>(object);
    if (combo && combo->property(SpokenNameProperty).toBool())
        return new NamedComboAccessible(combo);
    return nullptr;
}

// A window that is a plain widget is offered to screen readers as a window,
// announced by its title; Qt would offer it as a bare area (a filler) and
// its title would go unread. Dialogs are offered as dialogs already.
class WindowAccessible final : public QAccessibleWidget
{
public:
    explicit WindowAccessible(QWidget *window) : QAccessibleWidget(window, QAccessible::Window) {}
};

QAccessibleInterface *windowFactory(const QString &, QObject *object)
{
    auto *window = qobject_cast<QWidget *>(object);
    if (window && window->isWindow() && !qobject_cast<QDialog *>(window) &&
        window->property(WindowProperty).toBool())
        return new WindowAccessible(window);
    return nullptr;
}

// A caption as a name: without its mnemonic mark and its closing colon.
QString nameOfCaption(const QString &caption)
{
    QString name;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&' && i + 1 < caption.size())
            ++i;
        name.append(caption.at(i));
    }
    name = name.trimmed();
    while (name.endsWith(u':'))
        name = name.chopped(1).trimmed();
    return name;
}

} // namespace

int captionMeasurements()
{
    return g_captionMeasurements;
}

void placeTwips(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                   twipsToPixels(height));
}

void registerImages()
{
    [[maybe_unused]] static const bool registered = (initImageResource(), true);
}

QPixmap loadImage(const QString &path)
{
    // Each image is decoded once: the details window alone shows the same
    // bullet six times, and it is loaded again each time it is reopened.
    static QHash<QString, QImage> decoded;
    auto it = decoded.constFind(path);
    if (it == decoded.constEnd()) {
        // Told the format and not to look for another, the reader takes Qt's
        // own PNG reader; otherwise it would load every image-format plugin
        // to ask whether it reads PNG too. Transformed as QPixmap's own
        // loading does.
        QImageReader reader(path, "png");
        reader.setAutoDetectImageFormat(false);
        reader.setAutoTransform(true);
        it = decoded.insert(path, reader.read());
    }
    return QPixmap::fromImage(*it);
}

QIcon loadIcon(const QString &path)
{
    return QIcon(loadImage(path));
}

namespace {

// The faces of FAMILIES this system has, in their order; FAMILIES as they are
// when it has none. Asked for a face the system lacks, Qt has fontconfig sort
// every installed font as that face's fallbacks before it tries the next name:
// about a millisecond at start-up, for a face it would not have used.
QStringList installedFaces(const QStringList &families)
{
    const QStringList installed = QFontDatabase::families();
    QStringList found;
    for (const QString &family : families) {
        if (installed.contains(family, Qt::CaseInsensitive))
            found.append(family);
    }
    return found.isEmpty() ? families : found;
}

} // namespace

QFont formFont(bool bold)
{
    QFont font;
    font.setFamilies(installedFaces(
        {u"Microsoft Sans Serif"_s, u"Arial"_s, u"Liberation Sans"_s, u"Nimbus Sans"_s,
         QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()}));
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
    font.setFamilies(installedFaces({u"Arial"_s, u"Liberation Sans"_s, u"Nimbus Sans"_s}));
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
    [[maybe_unused]] static const bool windowsSpoken =
        (QAccessible::installFactory(windowFactory), true);
    window->setProperty(WindowProperty, true);
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
    picture->setPixmap(loadImage(image));
    return picture;
}

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &text, int left,
                        int top, int width, int height, EnterKey enter)
{
    auto *button = named(new CommandButton(text, parent), name);
    button->setAutoDefault(enter == EnterKey::Presses);
    placeTwips(button, left, top, width, height);
    return button;
}

QPushButton *makePictureButton(QWidget *parent, const QString &name, const QString &image,
                               const QString &spokenName, int left, int top, int width, int height)
{
    QPushButton *button = makeButton(parent, name, QString(), left, top, width, height);
    setSpokenName(button, spokenName);
    button->setToolTip(spokenName);
    button->setIcon(loadIcon(image));
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

void nameAfterCaption(QWidget *control, QLabel *caption)
{
    caption->setBuddy(control);
    setSpokenName(control, nameOfCaption(caption->text()));
}

void setSpokenName(QWidget *control, const QString &name)
{
    if (auto *combo = qobject_cast<QComboBox *>(control)) {
        [[maybe_unused]] static const bool installed =
            (QAccessible::installFactory(namedComboFactory), true);
        combo->setProperty(SpokenNameProperty, true);
        // The box of an editable one, where the typing goes, has the same name.
        if (QLineEdit *box = combo->lineEdit())
            box->setAccessibleName(name);
    }
    control->setAccessibleName(name);
}

void keepOutOfFocus(QWidget *control)
{
    control->setFocusPolicy(Qt::NoFocus);
}

bool isClick(const QWidget *label, const QObject *watched, const QEvent *event)
{
    if (watched != label || event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto *mouse = static_cast<const QMouseEvent *>(event);
    return mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint());
}

} // namespace Controls
