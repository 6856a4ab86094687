// The update feed (an RSS appcast fetched over the network): any bytes give the newest release
// or a sentence, and what it gives holds up: a dotted version, a web address.
#include <QByteArray>
#include <QString>

#include <cstdint>

#include "app/shell/appcast.h"
#include "fuzz/fuzz_support.h"

using quillet::fuzz::violated;

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray feed(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const quillet::ui::AppcastReading reading = quillet::ui::readAppcast(feed);
    if (reading.newest) {
        if (!reading.error.isEmpty()) violated("a release and an error at once");
        if (!quillet::ui::isVersion(reading.newest->version)) violated("the newest release has no dotted version");
        const QString scheme = reading.newest->downloadPage.scheme();
        if (scheme != QLatin1String("https") && scheme != QLatin1String("http")) {
            violated("the download page is not a web address");
        }
    } else if (reading.error.isEmpty()) {
        violated("no release and no reason");
    }

    // The input split at its first line break: two would-be versions, which must order consistently.
    const qsizetype split = feed.indexOf('\n');
    if (split >= 0) {
        const QString a = QString::fromUtf8(feed.left(split));
        const QString b = QString::fromUtf8(feed.mid(split + 1));
        if (quillet::ui::isVersion(a) && quillet::ui::isVersion(b)) {
            if (quillet::ui::compareVersions(a, a) != 0) violated("a version differs from itself");
            if (sign(quillet::ui::compareVersions(a, b)) != -sign(quillet::ui::compareVersions(b, a))) {
                violated("version order is not antisymmetric");
            }
        }
    }
    return 0;
}
