#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;

namespace quillet::ui {

struct UpdateCheckResult;

// The update check's own dialog: "Checking for updates…", then what the check found.
// Non-modal, so the window stays usable while the feed is fetched.
class UpdateDialog final : public QDialog {
    Q_OBJECT

public:
    explicit UpdateDialog(QWidget* parent = nullptr);

    void showChecking();
    void showResult(const UpdateCheckResult& result);

    QString headline() const;
    QString detail() const;
    // Whether the "Open Download Page" button is offered.
    bool offersDownload() const;

signals:
    void downloadRequested(const QUrl& page);

private:
    void present(const QString& headline, const QString& detail);

    QLabel* m_headline;
    QLabel* m_detail;
    QPushButton* m_download;
    QPushButton* m_close;
    QUrl m_page;
};

}  // namespace quillet::ui
