// The update feed (an RSS appcast fetched over the network): any bytes give the newest release
// or a sentence, and what it gives holds up: a dotted version, a web address.
#include <QByteArray>
#include <QString>

#include "app/shell/appcast.h"
#include "fuzz/fuzz_support.h"

void quillet::fuzz::fuzzOne(std::string_view input) {
    const QByteArray feed(input.data(), static_cast<qsizetype>(input.size()));
    const ui::AppcastReading reading = ui::readAppcast(feed);
    if (reading.newest) {
        if (!reading.error.isEmpty()) violated("a release and an error at once");
        if (!ui::isVersion(reading.newest->version)) violated("the newest release has no dotted version");
        const QString scheme = reading.newest->downloadPage.scheme();
        if (scheme != QLatin1String("https") && scheme != QLatin1String("http")) {
            violated("the download page is not a web address");
        }
    } else if (reading.error.isEmpty()) {
        violated("no release and no reason");
    }
    // The input split at its first line break: two would-be versions, which must order consistently.
    const qsizetype split = feed.indexOf('\n');
    const QString a = QString::fromUtf8(feed.left(split)), b = QString::fromUtf8(feed.mid(split + 1));
    if (split >= 0 && ui::isVersion(a) && ui::isVersion(b)) {
        const auto sign = [](int value) { return (value > 0) - (value < 0); };
        if (ui::compareVersions(a, a) != 0) violated("a version differs from itself");
        if (sign(ui::compareVersions(a, b)) != -sign(ui::compareVersions(b, a))) {
            violated("version order is not antisymmetric");
        }
    }
}
