#include "ui/common_progress.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "event_pump.h"
#include "ui/dialog_units.h"

namespace {

using veld::CommonProgress;
using veld::guitest::Pump;

TEST(CommonProgress, CancelIsAskedOfTheWorkWhichClosesTheDialog) {
    QWidget owner;
    auto* dialog = new CommonProgress(&owner, QStringLiteral("取り出し中"), QStringLiteral("ファイルを取り出しています"),
                                      QStringLiteral("キャンセル"));
    QSignalSpy cancel(dialog, &CommonProgress::cancelRequested);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("取り出し中"));
    EXPECT_EQ(dialog->messageText(), QStringLiteral("ファイルを取り出しています"));
    EXPECT_TRUE(dialog->buttonShown());
    EXPECT_TRUE(dialog->barShown());
    EXPECT_FALSE(dialog->hintShown());
    EXPECT_FALSE(dialog->cancelled());

    dialog->setPercent(35);
    EXPECT_EQ(dialog->percent(), 35);

    QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    Pump();
    EXPECT_TRUE(dialog->cancelled());
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_TRUE(dialog->isVisible());  // the work closes it, not the button

    delete dialog;
    Pump();
}

TEST(CommonProgress, CancelAfterTheWorkFinishedJustCloses) {
    QWidget owner;
    CommonProgress dialog(&owner, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("キャンセル"));
    QSignalSpy cancel(&dialog, &CommonProgress::cancelRequested);
    dialog.setWorkFinished();
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    Pump();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.cancelled());
    EXPECT_EQ(cancel.count(), 0);
}

TEST(CommonProgress, EmptyButtonTextShrinksToTheFrame) {
    QWidget owner;
    CommonProgress dialog(&owner, QStringLiteral("a"), QStringLiteral("b"), QString());
    EXPECT_FALSE(dialog.buttonShown());
    EXPECT_FALSE(dialog.barShown());
    const veld::DialogUnits du = veld::DialogUnitsOf(dialog.font());
    EXPECT_EQ(dialog.size(), du.size(220, 40));
}

TEST(CommonProgress, ModeFlagShowsTheEscapeHintInsteadOfTheButton) {
    QWidget owner;
    CommonProgress dialog(&owner, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("キャンセル"), true);
    EXPECT_FALSE(dialog.buttonShown());
    EXPECT_TRUE(dialog.hintShown());
    EXPECT_TRUE(dialog.barShown());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.cancelled());
    EXPECT_TRUE(dialog.isVisible());
}

TEST(CommonProgress, PendingStatusTextAppearsOnTheNextTick) {
    QWidget owner;
    CommonProgress dialog(&owner, QStringLiteral("a"), QStringLiteral("first"), QStringLiteral("キャンセル"));
    dialog.setStatusText(QStringLiteral("second"));
    EXPECT_EQ(dialog.messageText(), QStringLiteral("first"));
    QTest::qWait(650);
    EXPECT_EQ(dialog.messageText(), QStringLiteral("second"));
    EXPECT_EQ(dialog.spinnerText(), QStringLiteral("／"));
}

}  // namespace
