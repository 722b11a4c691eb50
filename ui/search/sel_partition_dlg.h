// The small dialog that asks which partition of a whole-card image to
// search, when more than one of its partitions holds a volume the search
// reads. Every partition of the table is listed (number, start, size and
// what it holds); the one the search would open by itself is preselected.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "volume/partition_table.h"

class QPushButton;
class QTreeWidget;

namespace veld {

class CSelPartitionDlg : public QDialog {
    Q_OBJECT
public:
    // partitions as the open of the source recorded them; preselected is the
    // table number of the row chosen at first.
    CSelPartitionDlg(std::vector<Partition> partitions, int preselected, QWidget* parent = nullptr);

    // The table number of the chosen partition (after Accepted).
    int chosenPartition() const { return chosen_; }

    // The column texts of a partition's row: number, start, size, kind.
    static QStringList RowTexts(const Partition& partition);

    // Inspection (tests).
    QTreeWidget* partitionList() const { return list_; }
    QPushButton* okButton() const { return ok_; }

public slots:
    void onOk();

private:
    std::vector<Partition> partitions_;
    int chosen_ = 0;
    QTreeWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// Before a search of an image file: when the image's partition table lists
// more than one partition that holds a volume, asks which one to search and
// stores its number in *partition; otherwise leaves kPartitionAuto there
// without asking. False when the user cancelled.
bool AskPartitionToSearch(QWidget* parent, const std::string& imagePath, int* partition);

}  // namespace veld
