#include "ui/common_progress.h"

#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <vector>

#include "message_recorder.h"
#include "ui/bitmap_progress_bar.h"
#include "ui/dialog_units.h"
#include "ui/posted_message.h"

namespace {

using veld::CCommonProgress;

using veld::guitest::Pump;
using Owner = veld::guitest::MessageRecorder;

TEST(CommonProgress, OpenCancelAndCloseTellTheOwner) {
    Owner owner;
    CCommonProgress::Open(&owner, QStringLiteral("取り出し中"), QStringLiteral("ファイルを取り出しています"),
                          QStringLiteral("キャンセル"));
    CCommonProgress* dialog = CCommonProgress::Current();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(owner.messages.size(), 1u);  // sent, so already there
    EXPECT_EQ(owner.messages[0], std::make_pair(int(veld::MsgCommonProgressState), intptr_t(0)));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("取り出し中"));
    EXPECT_EQ(dialog->messageText(), QStringLiteral("ファイルを取り出しています"));
    EXPECT_TRUE(dialog->buttonShown());
    EXPECT_TRUE(dialog->barShown());
    EXPECT_FALSE(dialog->hintShown());
    EXPECT_FALSE(CCommonProgress::Cancelled());

    CCommonProgress::SetPercent(35);
    EXPECT_EQ(dialog->percent(), 35);

    auto* button = dialog->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    Pump();
    EXPECT_TRUE(CCommonProgress::Cancelled());
    ASSERT_EQ(owner.messages.size(), 2u);
    EXPECT_EQ(owner.messages[1], std::make_pair(int(veld::MsgProgressCancel), intptr_t(-1)));
    EXPECT_EQ(CCommonProgress::Current(), dialog);  // still open

    CCommonProgress::Close();
    Pump();
    EXPECT_EQ(CCommonProgress::Current(), nullptr);
    EXPECT_FALSE(CCommonProgress::Cancelled());
    ASSERT_EQ(owner.messages.size(), 4u);
    EXPECT_EQ(owner.messages[2], std::make_pair(int(veld::MsgCommonProgressState), intptr_t(1)));
    EXPECT_EQ(owner.messages[3], std::make_pair(int(veld::MsgProgressCancel), intptr_t(0)));

    // Without a dialog the calls do nothing.
    CCommonProgress::SetPercent(50);
    CCommonProgress::Close();
    EXPECT_EQ(owner.messages.size(), 4u);
}

TEST(CommonProgress, NextOpenClearsTheAbortFlag) {
    Owner owner;
    CCommonProgress::Open(&owner, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("キャンセル"));
    QTest::keyClick(CCommonProgress::Current(), Qt::Key_Escape);
    EXPECT_TRUE(CCommonProgress::Cancelled());
    CCommonProgress::Open(&owner, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("キャンセル"));
    EXPECT_FALSE(CCommonProgress::Cancelled());
    CCommonProgress::Close();
    Pump();
}

TEST(CommonProgress, CancelAfterTheWorkFinishedJustCloses) {
    Owner owner;
    CCommonProgress::Open(&owner, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("キャンセル"));
    CCommonProgress::SetWorkFinished();
    QTest::mouseClick(CCommonProgress::Current()->findChild<QPushButton*>(), Qt::LeftButton);
    Pump();
    EXPECT_EQ(CCommonProgress::Current(), nullptr);
    EXPECT_FALSE(CCommonProgress::Cancelled());
    for (const auto& m : owner.messages) EXPECT_NE(m, std::make_pair(int(veld::MsgProgressCancel), intptr_t(-1)));
}

TEST(CommonProgress, EmptyButtonTextShrinksToTheFrame) {
    Owner owner;
    CCommonProgress::Open(&owner, QStringLiteral("a"), QStringLiteral("b"), QString());
    CCommonProgress* dialog = CCommonProgress::Current();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->buttonShown());
    EXPECT_FALSE(dialog->barShown());
    const veld::DialogUnits du = veld::DialogUnitsOf(dialog->font());
    EXPECT_EQ(dialog->size(), du.size(220, 40));
    CCommonProgress::Close();
    Pump();
}

TEST(CommonProgress, ModeFlagShowsTheEscapeHintInsteadOfTheButton) {
    Owner owner;
    CCommonProgress::Open(&owner, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("キャンセル"), true);
    CCommonProgress* dialog = CCommonProgress::Current();
    EXPECT_FALSE(dialog->buttonShown());
    EXPECT_TRUE(dialog->hintShown());
    EXPECT_TRUE(dialog->barShown());
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(CCommonProgress::Cancelled());
    CCommonProgress::Close();
    Pump();
}

TEST(CommonProgress, PendingStatusTextAppearsOnTheNextTick) {
    Owner owner;
    CCommonProgress::Open(&owner, QStringLiteral("a"), QStringLiteral("first"), QStringLiteral("キャンセル"));
    CCommonProgress* dialog = CCommonProgress::Current();
    CCommonProgress::SetStatusText(QStringLiteral("second"));
    EXPECT_EQ(dialog->messageText(), QStringLiteral("first"));
    QTest::qWait(650);
    EXPECT_EQ(dialog->messageText(), QStringLiteral("second"));
    EXPECT_EQ(dialog->spinnerText(), QStringLiteral("／"));
    CCommonProgress::Close();
    Pump();
}

}  // namespace
