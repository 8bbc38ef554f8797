#pragma once

#include "engine/dialer_view.h"

#include <QStringList>

// The dialer window as the engine sees it, without widgets.
class FakeDialer final : public DialerView
{
public:
    QString user = QStringLiteral("demo");
    QString pass = QStringLiteral("demo");
    QString number = QStringLiteral("0860");
    QString caption;
    QStringList captions; // every caption written, in order
    int timer2Switches = 0;

    QString userName() const override { return user; }
    QString password() const override { return pass; }
    QString phoneNumber() const override { return number; }
    void setStatusCaption(const QString &text) override
    {
        caption = text;
        captions.append(text);
    }
    void switchOffTimer2() override { ++timer2Switches; }
    HWND handle() const override { return 1; }
};

// The entry combo box as the engine sees it.
class FakeEntryList final : public EntryList
{
public:
    QStringList items{QStringLiteral("stale")};
    int index = -1;
    void clear() override
    {
        items.clear();
        index = -1;
    }
    void addItem(const QString &text) override { items.append(text); }
    bool setListIndex(int i) override
    {
        if (i < 0 || i >= items.size())
            return false;
        index = i;
        return true;
    }
};
