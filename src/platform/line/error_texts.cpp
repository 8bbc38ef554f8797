// The service's own words for the errors it reports; a kind of line may say
// more of the errors its calls end with (Line::errorText()).

#include "platform/line/line.h"

#include "platform/line/call_store.h"

#include <QByteArray>
#include <QHash>

namespace line {

namespace {

const QHash<DWORD, const char *> &serviceTexts()
{
    static const QHash<DWORD, const char *> texts = {
        {600, "An operation is pending."},
        {601, "The port handle is invalid."},
        {602, "The port is already open."},
        {603, "Caller's buffer is too small."},
        {605, "Vantelo cannot keep the line's state in its runtime folder."},
        {606, "The port is not connected."},
        {607, "The event is invalid."},
        {609, "The device type does not exist."},
        {610, "The buffer is invalid."},
        {611, "The route is not available."},
        {612, "The route is not allocated."},
        {613, "Invalid compression specified."},
        {614, "Out of buffers."},
        {615, "The port was not found."},
        {616, "The line is busy: another Vantelo process is changing it; try again."},
        {617, "The port or device is already disconnecting."},
        {618, "The port is not open."},
        {619, "The port is disconnected."},
        {620, "There are no endpoints."},
        {621, "Cannot open the phone book file."},
        {622, "Cannot load the phone book file."},
        {623, "Cannot find the phone book entry."},
        {624, "Cannot write the phone book file."},
        {625, "Invalid information found in the phone book file."},
        {626, "Cannot load a string."},
        {627, "Cannot find key."},
        {628, "The port was disconnected."},
        {629, "The port was disconnected by the remote machine."},
        {630, "The port was disconnected due to hardware failure."},
        {631, "The port was disconnected by the user."},
        {632, "The structure size is incorrect."},
        {633, "The port is already in use or is not configured for Remote Access dial out."},
        {651, "The modem (or other connecting device) has reported an error."},
        {652, "There is an unrecognized response from the modem (or other connecting device)."},
        {638, "The request has timed out."},
        {664, "Cannot allocate memory."},
        {668, "The connection dropped."},
        {676, "The line is busy."},
        {677, "A person answered instead of a modem."},
        {678, "There is no answer."},
        {679, "Cannot detect carrier."},
        {680, "There is no dial tone."},
        {691, "Access denied because username and/or password is invalid on the domain."},
        {718, "The connection was terminated because the remote computer did not respond in a "
              "timely manner."},
        {734, "The PPP link control protocol was terminated."},
    };
    return texts;
}

} // namespace

QByteArray errorText(DWORD code)
{
    for (const Line *kind : allLines()) {
        if (const char *words = kind->errorText(code))
            return words;
    }
    return serviceTexts().value(code, "Unknown error.");
}

} // namespace line
