// The last question before a complete erase. It names the card (device and
// size), asks for "消去を開始" or "キャンセル(&C)", and offers the US
// Department of Defense mode (check box 1039), remembered as
// Config/DelPentagon - saved only when the erase is confirmed. The FAT-erase
// box (1050) is part of the dialog but stays hidden, so it is never ticked.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;

namespace veld {

class EraseConfirmDialog : public QDialog {
    Q_OBJECT
public:
    enum Item { ItemMessage = 1034, ItemPentagon = 1039, ItemStart = 1041, ItemCancel = 1043, ItemFatErase = 1050 };

    // message: the question; target: the device's name and size.
    EraseConfirmDialog(const QString& message, const QString& target, QWidget* parent = nullptr);

    // The options read on confirmation.
    bool pentagon() const { return pentagon_; }
    bool fatErase() const { return fatErase_; }

    // Inspection (tests).
    QLabel* messageLabel() const { return message_; }
    QLabel* targetLabel() const { return target_; }
    QCheckBox* pentagonBox() const { return pentagonBox_; }
    QCheckBox* fatEraseBox() const { return fatEraseBox_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* cancelButton() const { return cancel_; }

public slots:
    void onStart();

private:
    bool pentagon_ = false;
    bool fatErase_ = false;
    QLabel* message_ = nullptr;
    QLabel* target_ = nullptr;
    QCheckBox* pentagonBox_ = nullptr;
    QCheckBox* fatEraseBox_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// The question EraseConfirmDialog asks.
QString DelDiskQuestionText();

}  // namespace veld
