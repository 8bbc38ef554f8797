#include "fuzz_support.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

const TemporaryHome &home()
{
    // Removed when the run ends normally; a crash leaves it for a look.
    static const TemporaryHome folder;
    static const bool ready = [] {
        qInstallMessageHandler(dropMessage);
        return folder.isValid();
    }();
    if (!ready)
        fail("no temporary home folder");
    return folder;
}

void fail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "\nproperty broken: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toPercentEncoding(" =[];\"").constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
