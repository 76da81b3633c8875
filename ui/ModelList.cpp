#include "ui/ModelList.h"

#include <QComboBox>

namespace rw {

namespace modellist {

void fill(QComboBox& list, const ModelTable& models) {
    for (size_t row = 0; row < models.size(); ++row) {
        const QString name = QString::fromStdString(models[row]->name);
        int at = 0;
        while (at < list.count() &&
               QString::compare(list.itemText(at), name, Qt::CaseInsensitive) <= 0) {
            ++at;
        }
        list.insertItem(at, name, static_cast<int>(row));
    }
}

void selectByPrefix(QComboBox& list, const QString& prefix) {
    int selected = -1;
    for (int i = 0; i < list.count() && selected < 0; ++i) {
        if (list.itemText(i).startsWith(prefix, Qt::CaseInsensitive)) selected = i;
    }
    list.setCurrentIndex(selected);
}

int selectedRow(const QComboBox& list, const ModelTable& models) {
    const int index = list.currentIndex();
    if (index < 0) return -1;
    bool ok = false;
    const int row = list.itemData(index).toInt(&ok);
    if (!ok || row < 0 || row >= static_cast<int>(models.size())) return -1;
    return row;
}

}  // namespace modellist

}  // namespace rw
