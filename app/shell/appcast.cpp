#include "app/shell/appcast.h"

#include <QXmlStreamReader>

namespace quillet::ui {

namespace {

const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isWebAddress(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

// A number component without its leading zeros, so numbers of any length compare as text.
QStringView significant(QStringView digits) {
    qsizetype start = 0;
    while (start + 1 < digits.size() && digits[start] == u'0') ++start;
    return digits.mid(start);
}

struct ItemFields {
    QString version;
    QString shortVersion;
    QString link;
    QString enclosureUrl;
    QString enclosureVersion;
    QString enclosureShortVersion;
    bool otherChannel = false;
};

std::optional<AppcastItem> usableItem(const ItemFields& fields) {
    AppcastItem item;
    item.version = fields.version.isEmpty() ? fields.enclosureVersion : fields.version;
    if (!isVersion(item.version)) return std::nullopt;
    item.displayVersion = !fields.shortVersion.isEmpty()            ? fields.shortVersion
                          : !fields.enclosureShortVersion.isEmpty() ? fields.enclosureShortVersion
                                                                    : item.version;
    const QUrl link(fields.link, QUrl::StrictMode);
    const QUrl enclosure(fields.enclosureUrl, QUrl::StrictMode);
    if (isWebAddress(link)) {
        item.downloadPage = link;
    } else if (isWebAddress(enclosure)) {
        item.downloadPage = enclosure;
    } else {
        return std::nullopt;
    }
    return item;
}

}  // namespace

bool isVersion(QStringView text) {
    if (text.isEmpty()) return false;
    bool componentHasDigit = false;
    for (QChar c : text) {
        if (c == u'.') {
            if (!componentHasDigit) return false;
            componentHasDigit = false;
        } else if (c >= u'0' && c <= u'9') {
            componentHasDigit = true;
        } else {
            return false;
        }
    }
    return componentHasDigit;
}

int compareVersions(QStringView a, QStringView b) {
    const auto left = a.split(u'.');
    const auto right = b.split(u'.');
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView x = i < left.size() ? significant(left[i]) : QStringView(u"0");
        const QStringView y = i < right.size() ? significant(right[i]) : QStringView(u"0");
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        if (const int order = x.compare(y); order != 0) return order < 0 ? -1 : 1;
    }
    return 0;
}

AppcastReading readAppcast(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    std::optional<AppcastItem> newest;
    bool sawRoot = false;
    int itemDepth = 0;  // element depth of the <item> being read, 0 outside one
    int depth = 0;
    ItemFields fields;

    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (!sawRoot) {
                sawRoot = true;
                if (reader.name() != QLatin1String("rss") || !reader.namespaceUri().isEmpty()) {
                    return {std::nullopt, QStringLiteral("The update feed is not an RSS feed.")};
                }
                continue;
            }
            const bool sparkle = reader.namespaceUri() == kSparkleNamespace;
            const bool plain = reader.namespaceUri().isEmpty();
            if (itemDepth == 0) {
                if (plain && reader.name() == QLatin1String("item")) {
                    itemDepth = depth;
                    fields = {};
                }
                continue;
            }
            if (depth != itemDepth + 1) continue;
            if (plain && reader.name() == QLatin1String("enclosure")) {
                const auto attributes = reader.attributes();
                fields.enclosureUrl = attributes.value(QLatin1String("url")).trimmed().toString();
                fields.enclosureVersion =
                    attributes.value(kSparkleNamespace, QLatin1String("version")).trimmed().toString();
                fields.enclosureShortVersion =
                    attributes.value(kSparkleNamespace, QLatin1String("shortVersionString")).trimmed().toString();
            } else if (plain && reader.name() == QLatin1String("link")) {
                fields.link = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                --depth;
            } else if (sparkle && reader.name() == QLatin1String("version")) {
                fields.version = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                --depth;
            } else if (sparkle && reader.name() == QLatin1String("shortVersionString")) {
                fields.shortVersion = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                --depth;
            } else if (sparkle && reader.name() == QLatin1String("channel")) {
                fields.otherChannel = true;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == itemDepth) {
                itemDepth = 0;
                if (!fields.otherChannel) {
                    auto item = usableItem(fields);
                    if (item && (!newest || compareVersions(item->version, newest->version) > 0)) {
                        newest = std::move(item);
                    }
                }
            }
            --depth;
        }
    }
    if (reader.hasError()) {
        QString reason = reader.errorString();
        if (reason.endsWith(u'.')) reason.chop(1);
        return {
            std::nullopt,
            QStringLiteral("The update feed could not be read: %1 (line %2).").arg(reason).arg(reader.lineNumber())};
    }
    if (!newest) return {std::nullopt, QStringLiteral("The update feed lists no versions.")};
    return {newest, {}};
}

}  // namespace quillet::ui
