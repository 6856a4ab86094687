#pragma once

#include <functional>
#include <string>

#include "app/look/woodland_panel.h"
#include "app/model/storage_model.h"
#include "core/records/storage_item.h"

class QGridLayout;

namespace quillet::ui {

// Everything known about one item: where it is, what it is, what was measured, how it comes
// back and, when it must not be cleaned, why. Offers revealing it in the file manager and
// keeping it. Holds its own copy of the item.
class DetailSheet final : public WoodlandPanel {
    Q_OBJECT
public:
    static constexpr int kWidth = 600;
    // Shows `path` in the file manager; calls `failed` when nothing could be asked to.
    using Reveal = std::function<void(const std::string& path, std::function<void()> failed)>;

    DetailSheet(const tarnby::StorageItem& item, StorageModel& model, Environment* env, QWidget* parent = nullptr);

    // Replaces revealInFileManager, for tests.
    void setReveal(Reveal reveal) { m_reveal = std::move(reveal); }
    const tarnby::StorageItem& item() const { return m_item; }

private:
    void addValue(QGridLayout& grid, const QString& label, const QString& value);
    void keepItem();

    const tarnby::StorageItem m_item;
    StorageModel& m_model;
    Reveal m_reveal;
};

}  // namespace quillet::ui
