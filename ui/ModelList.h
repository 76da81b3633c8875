#pragma once
#include <QString>

#include "engine/DeviceModel.h"

class QComboBox;

namespace rw {

// The model list: one entry per row of the model table, kept sorted by name
// without regard to case; each entry's item data is its row, which (not the
// list position) names the model from then on.
namespace modellist {

void fill(QComboBox& list, const ModelTable& models);
// Selects the first entry, in list order, whose text begins with prefix
// (without regard to case); none when no entry does.
void selectByPrefix(QComboBox& list, const QString& prefix);
// The row of the selected entry; -1 when none is selected or its data is no row.
int selectedRow(const QComboBox& list, const ModelTable& models);

}  // namespace modellist

}  // namespace rw
