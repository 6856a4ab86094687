#include "app/window/sidebar.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QVBoxLayout>

#include "app/look/decoration.h"
#include "app/look/environment.h"
#include "app/look/symbols.h"
#include "app/look/typography.h"
#include "app/model/storage_model.h"
#include "app/sheets/sheet_parts.h"
#include "app/window/window_parts.h"
#include "core/browsing/platform_texts.h"
#include "core/browsing/result_browsing.h"

namespace quillet::ui {

namespace {

constexpr int kBrandMargin = 16;  // left and right
constexpr int kBrandTop = 22;
constexpr int kBrandSpacing = 10;
constexpr int kBrandTextSpacing = 2;
constexpr int kAppIcon = 36;
const QString kAppIconResource = QStringLiteral(":/app/quillet.svg");
constexpr int kCategoryInset = 8;
constexpr int kFooterMargin = 16;
constexpr int kFooterSpacing = 8;

// The display name the shell gave the application when it is text, else the product's name.
QString applicationName() {
    const QString name = QGuiApplication::applicationDisplayName().trimmed();
    return name.isEmpty() ? QStringLiteral("Quillet") : name;
}

}  // namespace

Sidebar::Sidebar(StorageModel& model, Environment* environment, QWidget* parent)
    : QWidget(parent), m_environment(environment), m_categories(new CategoryModel(this)) {
    QVBoxLayout* column = flushColumn(this);

    // Brand header.
    auto* brand = new QHBoxLayout;
    brand->setContentsMargins(kBrandMargin, kBrandTop, kBrandMargin, 0);
    brand->setSpacing(kBrandSpacing);
    m_icon = new QLabel;
    m_icon->setObjectName(QStringLiteral("app-icon"));
    m_icon->setFixedSize(kAppIcon, kAppIcon);
    makeDecoration(*m_icon);
    brand->addWidget(m_icon);
    auto* names = new QVBoxLayout;
    names->setSpacing(kBrandTextSpacing);
    names->addWidget(
        makeLabel(applicationName(), ui::font(TextStyle::title3, QFont::DemiBold), Woodland::ink(), *m_environment));
    names->addWidget(makeLabel(QStringLiteral("A little breathing room."), ui::font(TextStyle::caption),
                               Woodland::muted(), *m_environment));
    brand->addLayout(names, 1);
    column->addLayout(brand);
    column->addSpacing(kBrandTop);

    // Categories.
    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("categories"));
    m_list->setAccessibleName(QStringLiteral("Categories"));
    m_list->setModel(m_categories);
    m_list->setItemDelegate(new CategoryDelegate(m_environment, m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setAutoFillBackground(false);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAttribute(Qt::WA_Hover);
    m_list->setSelectionRectVisible(false);
    m_list->selectionModel()->select(
        m_categories->index(m_categories->rowOf(std::string(tarnby::browsing::kAllCategories))),
        QItemSelectionModel::ClearAndSelect);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Sidebar::categoryChanged);
    auto* categories = new QVBoxLayout;
    categories->setContentsMargins(kCategoryInset, 0, kCategoryInset, 0);
    categories->addWidget(m_list);
    column->addLayout(categories, 1);

    // Privacy footer.
    auto* footer = new QVBoxLayout;
    footer->setContentsMargins(kFooterMargin, kFooterMargin, kFooterMargin, kFooterMargin);
    footer->setSpacing(kFooterSpacing);
    const tarnby::browsing::PlatformTexts& texts = tarnby::browsing::platformTexts();
    footer->addWidget(new SymbolLabel("lock.shield", qt(texts.privacyTitle),
                                      ui::font(TextStyle::caption, QFont::Medium), Woodland::ink(), *m_environment));
    QLabel* privacy = makeLabel(qt(texts.privacyNote), ui::font(TextStyle::caption), Woodland::muted(), *m_environment);
    privacy->setWordWrap(true);
    footer->addWidget(privacy);
    QLabel* freeSpace =
        makeLabel(model.freeSpace(), monospacedDigits(ui::font(TextStyle::caption)), Woodland::ink(), *m_environment);
    freeSpace->setObjectName(QStringLiteral("free-space"));
    // The model asks the disk on its worker and says when the text changed.
    connect(&model, &StorageModel::freeSpaceChanged, freeSpace, &QLabel::setText);
    footer->addWidget(freeSpace);
    column->addLayout(footer);
}

void Sidebar::setCounts(const CategoryModel::Counts& counts) { m_categories->setCounts(counts); }

std::optional<std::string> Sidebar::category() const {
    const QModelIndexList chosen = m_list->selectionModel()->selectedIndexes();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.first().data(CategoryModel::TagRole).toString().toStdString();
}

void Sidebar::applyAppearance() {
    // The application's own icon; a symbol stands in where the icon was not built in.
    const qreal ratio = devicePixelRatioF();
    const QPixmap icon = QIcon(kAppIconResource).pixmap(QSize(kAppIcon, kAppIcon), ratio);
    m_icon->setPixmap(icon.isNull() ? symbol("square.stack.3d.up",
                                             Woodland::accent().resolve(m_environment->appearance()), kAppIcon, ratio)
                                    : icon);
}

}  // namespace quillet::ui
