#include "platform/console.h"

#include <QByteArray>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

// One line of `in`, its line ending dropped; false at the end of the input.
bool readLine(std::FILE *in, QString *line, bool *faithful)
{
    QByteArray bytes;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        bytes.append(static_cast<char>(c));
    if (c == EOF && bytes.isEmpty())
        return false;
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    *line = QString::fromLocal8Bit(bytes);
    if (faithful) {
        QByteArray again = line->toLocal8Bit();
        *faithful = !bytes.contains('\0') && again == bytes;
        again.fill('\0');
    }
    bytes.fill('\0');
    return true;
}

// Switches the terminal's echo off for as long as it lives.
class EchoOff final
{
public:
    EchoOff()
    {
#ifdef _WIN32
        m_input = GetStdHandle(STD_INPUT_HANDLE);
        m_active = GetConsoleMode(m_input, &m_saved) &&
                   SetConsoleMode(m_input, m_saved & ~DWORD(ENABLE_ECHO_INPUT));
#else
        if (tcgetattr(STDIN_FILENO, &m_saved) == 0) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            quiet.c_lflag |= ICANON | ECHONL;
            // TCSANOW: what was typed ahead is kept, not thrown away.
            m_active = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
        }
#endif
    }
    ~EchoOff()
    {
        if (!m_active)
            return;
#ifdef _WIN32
        SetConsoleMode(m_input, m_saved);
        std::fputc('\n', stderr);
#else
        tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
#endif
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;
    bool active() const
    {
        return m_active;
    }

private:
    bool m_active = false;
#ifdef _WIN32
    HANDLE m_input = nullptr;
    DWORD m_saved = 0;
#else
    termios m_saved{};
#endif
};

} // namespace

bool inputIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

bool readHiddenLine(const QString &prompt, QString *line, bool *faithful)
{
    if (!inputIsTerminal())
        return false;
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    const EchoOff echoOff;
    // A terminal whose echo cannot be switched off would show the secret.
    if (!echoOff.active())
        return false;
    return readLine(stdin, line, faithful);
}

bool readInputLine(QString *line, bool *faithful)
{
    return readLine(stdin, line, faithful);
}

} // namespace platform
