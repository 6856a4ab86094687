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
        if (scheme != u"https" && scheme != u"http") violated("the download page is not a web address");
    } else if (reading.error.isEmpty()) {
        violated("no release and no reason");
    }
}
