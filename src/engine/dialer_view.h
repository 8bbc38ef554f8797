#pragma once

// What the connection engine needs of the dialer window: the login fields as
// typed, the status line, the dial animation's timer, and the entry list to
// fill. The window implements it; tests use a plain object.

#include "platform/wintypes.h"

#include <QString>

class DialerView
{
public:
    virtual ~DialerView() = default;

    virtual QString userName() const = 0;    // Combo3
    virtual QString password() const = 0;    // Text1
    virtual QString phoneNumber() const = 0; // Combo2
    virtual void setStatusCaption(const QString &text) = 0;
    // The call ended with `error`, put into words as `text`; the status line
    // shows the words unless the window adds to them.
    virtual void showCallFailure(DWORD error, const QString &text)
    {
        Q_UNUSED(error);
        setStatusCaption(text);
    }
    virtual void switchOffTimer2() = 0; // stop the indicator circles' animation
    virtual HWND handle() const = 0;    // notifier of the dial
};

// A list of texts the engine fills, such as the entry combo box Combo1.
class EntryList
{
public:
    virtual ~EntryList() = default;
    virtual void clear() = 0;
    virtual void addItem(const QString &text) = 0;
    // Selects an item; returns false when there is no such item.
    virtual bool setListIndex(int index) = 0;
};
