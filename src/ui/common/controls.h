#pragma once

// How the windows build their controls: places in twips, the program's font,
// window borders, the program's images and one maker per kind of control.
// Every maker names the control (tests and the other windows find it by that
// name) and places it in its container.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QString>

#include <initializer_list>
#include <utility>

class QCheckBox;
class QComboBox;
class QEvent;
class QGroupBox;
class QIcon;
class QLabel;
class QLineEdit;
class QObject;
class QPixmap;
class QPushButton;
class QRadioButton;
class QWidget;

namespace Controls {

// The light grey of the dialer and details windows.
inline constexpr QRgb FormGrey = qRgb(192, 192, 192);

// Gives an object its name and hands it back.
template <class Object> Object *named(Object *object, const QString &name)
{
    object->setObjectName(name);
    return object;
}

// Places a control at a place given in twips (left, top, width, height),
// relative to its container.
void placeTwips(QWidget *w, int left, int top, int width, int height);

// Makes the program's images (":/vantelo/...") available. They are compiled
// into the user-interface library, which nothing else refers to by name, so
// they must be registered before a window asks for one. Safe to call often.
void registerImages();
// One of the program's images, read as the PNG it is, so that Qt loads none of
// its image-format plugins to find out what the file holds; a null pixmap when
// it cannot be read. loadIcon gives the same image as an icon.
QPixmap loadImage(const QString &path);
QIcon loadIcon(const QString &path);

// The program's font: MS Sans Serif 8 pt in spirit, that is the Windows face
// or one with Arial's metrics where one exists, so captions fit the places
// laid out for them; the system's default face otherwise.
QFont formFont(bool bold = false);
// Makes formFont() the application's font, which every window inherits.
void useFormFont();
// Arial, or a face with its metrics, for the captions that ask for it.
QFont arialFont(qreal points, bool bold = false);

// The borders of the windows.
enum class Border {
    // Normal title bar with minimise and close boxes, no maximise box, no
    // resizing.
    FixedSingle,
    // Thin title bar with only a close box, no resizing, no minimise or
    // maximise box, no task-bar button.
    FixedToolWindow,
};

// Starts building a window: the program's images registered, its name and
// design caption, its border, and its client area's fixed size in twips.
void setUpWindow(QWidget *window, const QString &name, const QString &caption, Border border,
                 int width, int height);

// Colours: the background (filled) and the text.
void setBackColor(QWidget *w, const QColor &color);
void setForeColor(QWidget *w, const QColor &color);

// Whether a label grows when its caption is wider than its place in the font
// at hand (a caption is never cut short), or keeps its place exactly (where a
// control to its right overlaps it by design).
enum class Fit { WidenToCaption, KeepPlace };

// A caption, plain text, from its top-left corner.
QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, int left, int top,
                  int width, int height, Fit fit = Fit::WidenToCaption);
// A label sized to its caption (auto-size), placed by its top-left corner.
QLabel *makeAutoSizeLabel(QWidget *parent, const QString &name, const QString &text, int left,
                          int top);
// Widens a label so that a caption fits in its font; never narrows it.
void widenToFit(QLabel *label, const QString &caption);
// Moves a control right, where needed, so that it starts a blank's width past
// the caption of the label on its left, its sibling: a caption may run a
// little wider in this font than in the place drawn for it.
void keepClearOfCaption(const QLabel *caption, QWidget *control);

// A picture box: an image from its top-left corner, cut at its edges.
QLabel *makePicture(QWidget *parent, const QString &name, const QString &image, int left, int top,
                    int width, int height);

// Enter presses the push button that has the focus, as Space does. In a
// dialog, a button made with EnterKey::Presses is also pressed by Enter with
// the focus elsewhere; the others are not (Enter in a text box must not press
// a button of its own accord).
enum class EnterKey { Ignored, Presses };

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &text, int left,
                        int top, int width, int height, EnterKey enter = EnterKey::Ignored);
// A button showing a 16 x 16 image and no caption: `spokenName` says what it
// does, to screen readers and in its tip.
QPushButton *makePictureButton(QWidget *parent, const QString &name, const QString &image,
                               const QString &spokenName, int left, int top, int width, int height);
QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &title, int left, int top,
                     int width, int height);
// How many times the frames have measured their captions since the start: a
// frame measures its caption once, and again only when it or its font changes.
int captionMeasurements();
QLineEdit *makeTextBox(QWidget *parent, const QString &name, const QString &text, int left, int top,
                       int width, int height);
// A combo box whose typing edits its text and never adds items by itself.
QComboBox *makeComboBox(QWidget *parent, const QString &name, bool editable, int left, int top,
                        int width, int height);
QCheckBox *makeCheckBox(QWidget *parent, const QString &name, const QString &text, int left,
                        int top, int width, int height);
QRadioButton *makeOptionButton(QWidget *parent, const QString &name, const QString &text, int left,
                               int top, int width, int height);

// What screen readers announce for a control. A control is named by its own
// caption; these name the ones whose caption is a label beside them, or that
// have none. The names never change what the window shows.
//
// Names a control after the label on its left ("Login:" gives "Login") and
// makes the label its buddy.
void nameAfterCaption(QWidget *control, QLabel *caption);
// Names a control with words of its own (a button showing a sign or a
// picture, a list under a frame's caption). An editable combo box is
// announced by this name, not by the text typed in it.
void setSpokenName(QWidget *control, const QString &name);

// Keeps a control that lies outside its window's visible area from taking the
// focus, by Tab or by a click: keys typed there would change a value the user
// cannot see.
void keepOutOfFocus(QWidget *control);

// Connects each button's click to its handler of `form` (Name_Click).
template <class Form>
void connectClicks(Form *form,
                   std::initializer_list<std::pair<QAbstractButton *, void (Form::*)()>> clicks)
{
    for (const auto &[button, handler] : clicks)
        QObject::connect(button, &QAbstractButton::clicked, form, handler);
}

// Whether `event`, seen by an event filter on `label`, is a click on it: the
// left button released over the label it was pressed on.
bool isClick(const QWidget *label, const QObject *watched, const QEvent *event);

} // namespace Controls
