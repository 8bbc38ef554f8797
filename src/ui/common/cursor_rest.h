#pragma once

#include <QObject>
#include <QTimer>

// The text cursor rests, as desktops make it do: it stops blinking (and
// stays shown) after ten seconds without a key press, a click or a change of
// focus, and blinks again at the next one. A window left open with a text box
// in focus then redraws nothing until something changes. Where the desktop
// has blinking switched off, nothing changes.
class CursorRest final : public QObject
{
    Q_OBJECT

public:
    static constexpr int RestAfterMs = 10000;

    // Watches the whole application's input from now on.
    explicit CursorRest(QObject *parent = nullptr);
    ~CursorRest() override;

    bool resting() const { return m_resting; }
    // How long until the cursor rests; -1 when it rests or never will.
    int msUntilRest() const { return m_idle.isActive() ? m_idle.remainingTime() : -1; }
    // Ten seconds without input: the cursor stops blinking.
    void rest();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wake();

    QTimer m_idle;
    int m_flashTime = 0;
    bool m_resting = false;
};
