#include "gui_state.h"

#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/window_handles.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

#include <cstring>

namespace {

QWidget *ownerWidget(HWND hwnd)
{
    return qobject_cast<QWidget *>(platform::windowFromHandle(hwnd));
}

bool haveWidgets()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

QString text(const char *ansi)
{
    return ansi ? QString::fromLocal8Bit(ansi) : QString();
}

// The filter list: NUL-terminated texts, the list ending with an empty one.
QStringList filterTexts(const char *filter)
{
    QStringList texts;
    if (!filter)
        return texts;
    for (const char *p = filter; *p; p += std::strlen(p) + 1)
        texts.append(QString::fromLocal8Bit(p));
    return texts;
}

// A display name and its patterns ("*.wav;*.wave") as a Qt name filter. The
// system's "*.*" means every file, Qt's "*".
QString nameFilter(const QString &display, const QString &patterns)
{
    QStringList list = patterns.split(u';', Qt::SkipEmptyParts);
    for (QString &pattern : list) {
        pattern = pattern.trimmed();
        if (pattern == u"*.*")
            pattern = QStringLiteral("*");
    }
    QString name = display.trimmed();
    // "Wave sounds (*.wav)" already shows its patterns; they are not repeated.
    const QString shown = QStringLiteral(" (") + patterns + u')';
    if (name.endsWith(shown))
        name.chop(shown.size());
    return name + QStringLiteral(" (") + list.join(u' ') + u')';
}

// The chosen path as the record returns it. False when it does not fit.
BOOL storeFileName(OPENFILENAME *ofn, const QString &path)
{
    const QByteArray ansi = platform::toAnsi(QDir::toNativeSeparators(path));
    char *buffer = ofn->lpstrFile.get();
    if (static_cast<DWORD>(ansi.size()) + 1 > ofn->nMaxFile)
        return FALSE;
    std::memcpy(buffer, ansi.constData(), ansi.size());
    buffer[ansi.size()] = '\0';

    const qsizetype slash = qMax(ansi.lastIndexOf('/'), ansi.lastIndexOf('\\'));
    const qsizetype nameStart = slash + 1;
    const qsizetype dot = ansi.lastIndexOf('.');
    ofn->nFileOffset = static_cast<WORD>(nameStart);
    if (dot < nameStart)
        ofn->nFileExtension = static_cast<WORD>(ansi.size()); // no extension: the NUL
    else if (dot == ansi.size() - 1)
        ofn->nFileExtension = 0; // a name ending in "."
    else
        ofn->nFileExtension = static_cast<WORD>(dot + 1);
    return TRUE;
}

} // namespace

BOOL GetOpenFileNameA(OPENFILENAME *lpofn)
{
    if (!lpofn)
        return FALSE;
    const QStringList filter = filterTexts(lpofn->lpstrFilter.get());
    auto &state = platform::gui::state();
    QByteArray initialFile;
    if (const char *buffer = lpofn->lpstrFile.get())
        initialFile = QByteArray(buffer, static_cast<qsizetype>(qstrnlen(buffer, lpofn->nMaxFile)));
    state.openFileCalls.append({lpofn->hwndOwner, text(lpofn->lpstrTitle.get()), filter,
                                lpofn->Flags, lpofn->lStructSize, lpofn->nMaxFile, initialFile});
    if (!lpofn->lpstrFile.get() || lpofn->nMaxFile == 0)
        return FALSE;

    QString chosen;
    if (state.quiet) {
        if (!state.openFileNames.isEmpty())
            chosen = state.openFileNames.dequeue();
    } else {
        if (!haveWidgets())
            return FALSE;
        QString directory = text(lpofn->lpstrInitialDir.get());
        if (directory.isEmpty())
            directory = QDir::currentPath();
        QFileDialog dialog(ownerWidget(lpofn->hwndOwner), text(lpofn->lpstrTitle.get()), directory);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // Qt's dialog has no read-only box, so OFN_HIDEREADONLY needs nothing.
        dialog.setFileMode((lpofn->Flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                              : QFileDialog::AnyFile);
        QStringList nameFilters;
        for (qsizetype i = 0; i + 1 < filter.size(); i += 2)
            nameFilters.append(nameFilter(filter.at(i), filter.at(i + 1)));
        if (!nameFilters.isEmpty()) {
            dialog.setNameFilters(nameFilters);
            const qsizetype index = lpofn->nFilterIndex;
            if (index >= 1 && index <= nameFilters.size())
                dialog.selectNameFilter(nameFilters.at(index - 1));
        }
        // The buffer's text, when it holds more than blanks, is the initial name.
        const QString initial = QString::fromLocal8Bit(initialFile).trimmed();
        if (!initial.isEmpty())
            dialog.selectFile(initial);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (chosen.isEmpty())
        return FALSE;
    return storeFileName(lpofn, chosen);
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    auto &state = platform::gui::state();
    state.messageBoxCalls.append({hWnd, text(lpText), text(lpCaption), uType});
    if (state.quiet)
        return state.messageBoxAnswers.isEmpty() ? IDOK : state.messageBoxAnswers.dequeue();
    if (!haveWidgets())
        return 0;

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (uType & 0xF0) {
    case 0x10:
        icon = QMessageBox::Critical;
        break;
    case 0x20:
        icon = QMessageBox::Question;
        break;
    case 0x30:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QMessageBox box(icon, text(lpCaption), text(lpText), QMessageBox::Ok, ownerWidget(hWnd));
    box.exec();
    return IDOK;
}
