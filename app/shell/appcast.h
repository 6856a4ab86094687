#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace quillet::ui {

// One release listed in an update feed.
struct AppcastItem {
    QString version;         // compared with the running version ("sparkle:version")
    QString displayVersion;  // shown to the user ("sparkle:shortVersionString", else `version`)
    QUrl downloadPage;       // the item's link, else its enclosure's address; http or https
};

// The newest release of a feed, or a sentence saying why there is none.
struct AppcastReading {
    std::optional<AppcastItem> newest;
    QString error;  // empty when `newest` is present
};

// Reads an RSS appcast: every <item> with a dotted numeric version (from <sparkle:version> or
// its enclosure's sparkle:version) and an http(s) address counts, except items of a named
// channel (pre-releases); the one with the highest version wins. Pure; never throws.
AppcastReading readAppcast(const QByteArray& xml);

// Whether `text` is a dotted numeric version such as "1.10.2".
bool isVersion(QStringView text);

// Orders two dotted numeric versions component by component as numbers, a missing component
// counting as 0 ("1.10" > "1.9", "1.0" == "1.0.0"). Negative, zero or positive.
// Both must satisfy isVersion.
int compareVersions(QStringView a, QStringView b);

}  // namespace quillet::ui
