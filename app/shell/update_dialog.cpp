#include "app/shell/update_dialog.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/app_updater.h"

namespace quillet::ui {

namespace {
constexpr int kTextWidth = 300;
constexpr int kIconSize = 64;
constexpr int kMargin = 20;
constexpr int kSpacing = 8;
}  // namespace

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent),
      m_headline(new QLabel(this)),
      m_detail(new QLabel(this)),
      m_download(new QPushButton(tr("Open Download Page"), this)),
      m_close(new QPushButton(tr("Close"), this)) {
    setObjectName(QStringLiteral("update-dialog"));
    setWindowTitle(tr("Software Update"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/app/quillet.svg")).pixmap(kIconSize, kIconSize));
    icon->setAlignment(Qt::AlignTop);
    icon->setAccessibleName(QString());

    QFont bold = m_headline->font();
    bold.setBold(true);
    m_headline->setFont(bold);
    // The feed and the server write parts of both texts: never read them as markup.
    m_headline->setTextFormat(Qt::PlainText);
    m_detail->setTextFormat(Qt::PlainText);
    m_headline->setObjectName(QStringLiteral("update-headline"));
    m_headline->setWordWrap(true);
    m_headline->setFixedWidth(kTextWidth);
    m_detail->setObjectName(QStringLiteral("update-detail"));
    m_detail->setWordWrap(true);
    m_detail->setFixedWidth(kTextWidth);
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_download->setObjectName(QStringLiteral("update-download"));
    m_close->setObjectName(QStringLiteral("update-close"));

    auto* text = new QVBoxLayout;
    text->setSpacing(kSpacing);
    text->addWidget(m_headline);
    text->addWidget(m_detail);
    text->addStretch();

    auto* top = new QHBoxLayout;
    top->setSpacing(kMargin);
    top->addWidget(icon);
    top->addLayout(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_close);
    buttons->addWidget(m_download);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kMargin);
    layout->addLayout(top);
    layout->addLayout(buttons);
    // As tall as its wrapped text, whatever the outcome.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_download, &QPushButton::clicked, this, [this] {
        emit downloadRequested(m_page);
        accept();
    });
}

void UpdateDialog::present(const QString& headline, const QString& detail) {
    m_headline->setText(headline);
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
    m_download->setVisible(!m_page.isEmpty());
    (m_page.isEmpty() ? m_close : m_download)->setDefault(true);
}

void UpdateDialog::showChecking() {
    m_page.clear();
    m_close->setText(tr("Cancel"));
    present(tr("Checking for updates…"), QString());
}

void UpdateDialog::showResult(const UpdateCheckResult& result) {
    m_close->setText(tr("Close"));
    m_page.clear();
    switch (result.outcome) {
        case UpdateCheckResult::Outcome::upToDate:
            present(tr("You’re up to date."),
                    result.aheadOfFeed ? tr("Quillet %1 is newer than the latest release, %2.")
                                             .arg(result.runningVersion, result.newVersion)
                                       : tr("Quillet %1 is the newest version available.").arg(result.runningVersion));
            break;
        case UpdateCheckResult::Outcome::available:
            m_page = result.downloadPage;
            present(tr("Quillet %1 is available.").arg(result.newVersion),
                    tr("You have version %1. The download page has the new version and what changed.")
                        .arg(result.runningVersion));
            break;
        case UpdateCheckResult::Outcome::failed: present(tr("The update check failed."), result.problem); break;
    }
}

QString UpdateDialog::headline() const { return m_headline->text(); }
QString UpdateDialog::detail() const { return m_detail->text(); }
bool UpdateDialog::offersDownload() const { return !m_download->isHidden(); }

}  // namespace quillet::ui
