#include "support/fixture.h"

#include "engine/dialing.h"
#include "engine/globals.h"
#include "platform/core/clock.h"
#include "platform/seams.h"
#include "platform/simline.h"
#include "services/clock.h"
#include "services/storage_notice.h"
#include "support/line_probe.h"

void resetProgramState()
{
    LastRasError = 0;
    DialType = 0;
    SessionDuration = TotalDuration = MonthDuration = Duration{};
    SoundPlayed = 0;
    WaveFilePath.clear();
    AppLaunchList.fill(QString());
    AppLaunchCount = 0;
    HideOnClose = 0;
    TrayIconData = NOTIFYICONDATA{};
    HangUpPaceMs = 5;
    HangUpPatienceMs = 12000;
    HangUpAttempts = 0;

    platform::clock::useSystemClock();
    SetFixedDateTime({});
    StorageNotice::reset();
    simline::clearStatisticsOverrides();
    platform::seams::setQuiet(true);
    platform::seams::clearAllCalls();
    platform::seams::setDesktopTray(std::nullopt);
}

void stopLineClock()
{
    platform::clock::useSystemClock();
    platform::clock::setNowMs(platform::clock::nowMs() - 60000);
}

bool TestFixture::setUp(const QList<PhonebookEntry> &phonebook)
{
    m_home = std::make_unique<TemporaryHome>();
    if (!m_home->isValid())
        return false;
    resetProgramState();
    return phonebook.isEmpty() || writePhonebook(phonebook);
}

void TestFixture::tearDown()
{
    if (m_home) {
        platform::clock::useSystemClock();
        simline::reset();
        for (const HRASCONN handle : lineprobe::listedHandles())
            lineprobe::hangUpAndWait(handle);
    }
    resetProgramState();
    m_home.reset();
}
