#include "gui_state.h"

namespace platform::gui {

State &state()
{
    static State s;
    return s;
}

} // namespace platform::gui

namespace platform::seams {

void setQuiet(bool quiet)
{
    gui::state().quiet = quiet;
}

const QList<MessageBoxCall> &messageBoxCalls()
{
    return gui::state().messageBoxCalls;
}

void clearAllCalls()
{
    clearShellNotifyCalls();
    clearMessageBoxCalls();
    clearOpenFileCalls();
    clearSoundCalls();
    clearProgramStartCalls();
}

void clearMessageBoxCalls()
{
    gui::state().messageBoxCalls.clear();
}

void setNextMessageBoxAnswer(int answer)
{
    gui::state().messageBoxAnswers.enqueue(answer);
}

const QList<OpenFileCall> &openFileCalls()
{
    return gui::state().openFileCalls;
}

void clearOpenFileCalls()
{
    gui::state().openFileCalls.clear();
}

void setNextOpenFileName(const QString &path)
{
    gui::state().openFileNames.enqueue(path);
}

const QList<SoundCall> &soundCalls()
{
    return gui::state().soundCalls;
}

void clearSoundCalls()
{
    gui::state().soundCalls.clear();
}

const QList<ProgramStartCall> &programStartCalls()
{
    return gui::state().programStartCalls;
}

void clearProgramStartCalls()
{
    gui::state().programStartCalls.clear();
}

} // namespace platform::seams
