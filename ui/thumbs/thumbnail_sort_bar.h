// The thumbnail pane's sort bar: "並べ替え", the sort keys (the list's
// columns) and a direction button. Choosing a key or turning the direction
// sorts the grid and the list together.
#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QToolButton;

namespace veld {

class ThumbnailSortBar : public QWidget {
    Q_OBJECT
public:
    explicit ThumbnailSortBar(QWidget* parent = nullptr);

    // The key chosen (a list column), -1 before any.
    int sortKey() const;
    // 1 ascending (the start), 0 descending.
    int direction() const { return direction_; }

    QComboBox* keyBox() const { return keys_; }
    QToolButton* directionButton() const { return directionButton_; }
    QLabel* label() const { return label_; }

signals:
    // A key was chosen or the direction turned: sort by the key (-1 before
    // any was chosen) in the direction (1 ascending, 0 descending).
    void sortRequested(int key, int direction);

private:
    void toggleDirection();

    QLabel* label_ = nullptr;
    QComboBox* keys_ = nullptr;
    QToolButton* directionButton_ = nullptr;
    int direction_ = 1;
};

}  // namespace veld
