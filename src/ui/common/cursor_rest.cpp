#include "ui/common/cursor_rest.h"

#include <QApplication>
#include <QEvent>

CursorRest::CursorRest(QObject *parent)
    : QObject(parent), m_flashTime(QApplication::cursorFlashTime())
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(RestAfterMs);
    connect(&m_idle, &QTimer::timeout, this, &CursorRest::rest);
    if (m_flashTime <= 0)
        return; // the desktop's cursor does not blink
    QCoreApplication::instance()->installEventFilter(this);
    m_idle.start();
}

CursorRest::~CursorRest()
{
    // The desktop's blinking again for whatever comes after.
    if (m_resting)
        QApplication::setCursorFlashTime(m_flashTime);
}

void CursorRest::rest()
{
    if (m_resting || m_flashTime <= 0)
        return;
    m_idle.stop();
    m_resting = true;
    QApplication::setCursorFlashTime(0);
}

void CursorRest::wake()
{
    if (m_resting) {
        m_resting = false;
        QApplication::setCursorFlashTime(m_flashTime);
    }
    m_idle.start();
}

bool CursorRest::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::InputMethod:
    case QEvent::FocusIn:
        wake();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
