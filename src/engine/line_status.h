#pragma once

// How the line stands: the first connection's state in words, the connect
// speed, and the dynamic statistics of the dial-up adapter.

#include "engine/dialer_view.h"
#include "platform/registry.h"

#include <QString>
#include <QtGlobal>

inline const QString StatDataKey = QStringLiteral("PerfStats\\StatData");
inline const QString ConnectSpeedValue = QStringLiteral("Dial-Up Adapter\\ConnectSpeed");
inline const QString BytesXmitValue = QStringLiteral("Dial-Up Adapter\\BytesXmit");
inline const QString BytesRecvdValue = QStringLiteral("Dial-Up Adapter\\BytesRecvd");

// Writes the words for the first connection's state into the status line;
// true only when that connection is established.
bool UpdateConnectionStatus(DialerView &dialer);

// The connect speed in bits per second while connected, else 0.
qint32 ReadConnectSpeed(DialerView &dialer);

// One 32-bit value of the registry, taken as a little-endian signed integer;
// the default when the value is missing or longer than 4 bytes, 0 when the
// key cannot be opened.
qint32 ReadRegistryValue(HKEY root, const QString &keyPath, const QString &valueName,
                         qint32 defaultValue);
