#include "ui/PortList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <mutex>

namespace rw {

namespace {

// Draws a drop-down row with its device; the row's own text, which the closed
// box and the settings go by, stays the COM number.
class PortItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString text = index.data(PortList::kPopupTextRole).toString();
        if (!text.isEmpty()) option->text = text;
    }
};

}  // namespace

// The paths the programming thread looks up, refilled on the window's thread.
struct PortList::Lookup {
    std::mutex mutex;
    ComPortPaths paths;
};

PortList::PortList() : lookup_(std::make_shared<Lookup>()) {}

PortList::~PortList() = default;

std::function<std::string(int)> PortList::fill(QComboBox& box, const ComPortPaths& given,
                                               const QString& root) {
    box_ = &box;
    kept_ = given;
    root_ = root.toStdString();
    box.setItemDelegate(new PortItemDelegate(&box));
    box.view()->window()->installEventFilter(this);
    connect(&box, &QComboBox::currentIndexChanged, this, &PortList::showCurrentTip);
    refill();
    return [lookup = lookup_](int portNumber) {
        if (portNumber < 1 || portNumber > kComPortCount)
            return defaultSerialDevicePath(portNumber);
        std::lock_guard lock(lookup->mutex);
        return lookup->paths[static_cast<size_t>(portNumber - 1)];
    };
}

bool PortList::eventFilter(QObject* watched, QEvent* event) {
    // The drop-down's window is shown after its place was worked out and
    // before it appears: the rows are filled and the width set in between.
    if (box_ != nullptr && event->type() == QEvent::Show && watched == box_->view()->window()) {
        refill();
        widenPopup();
    }
    return false;
}

void PortList::refill() {
    const std::vector<ComPort> ports = mapComPorts(
        kept_, root_.empty() ? std::vector<SerialDevice>{} : discoverSerialDevices(root_));
    {
        std::lock_guard lock(lookup_->mutex);
        for (size_t i = 0; i < ports.size(); ++i) lookup_->paths[i] = ports[i].path;
    }
    for (size_t i = 0; i < ports.size(); ++i) {
        if (ports[i].kept) kept_[i] = ports[i].path;
        const int row = static_cast<int>(i);
        if (row >= box_->count()) continue;
        box_->setItemData(row, box_->itemText(row) + "  " + QString::fromStdString(ports[i].name),
                          kPopupTextRole);
        box_->setItemData(row, QString::fromStdString(ports[i].path), Qt::ToolTipRole);
    }
    showCurrentTip();
}

void PortList::showCurrentTip() {
    const int row = box_->currentIndex();
    box_->setToolTip(row >= 0 ? box_->itemData(row, Qt::ToolTipRole).toString() : QString());
}

void PortList::widenPopup() {
    QAbstractItemView& view = *box_->view();
    QStyleOptionViewItem option;
    option.initFrom(&view);
    int textWidth = 0;
    for (int row = 0; row < box_->count(); ++row) {
        const QModelIndex index = box_->model()->index(row, box_->modelColumn());
        textWidth = std::max(textWidth, view.itemDelegate()->sizeHint(option, index).width());
    }
    QWidget& popup = *view.window();
    const auto* frame = qobject_cast<QFrame*>(&popup);
    int wanted = textWidth + 2 * (view.frameWidth() + (frame != nullptr ? frame->frameWidth() : 0));
    if (box_->count() > box_->maxVisibleItems())
        wanted += view.verticalScrollBar()->sizeHint().width();
    if (popup.width() < wanted) popup.resize(wanted, popup.height());
}

}  // namespace rw
