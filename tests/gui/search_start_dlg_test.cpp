#include "ui/search/search_start_dlg.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "base/settings.h"
#include "tests/gui/boot_sector_images.h"

namespace {

using veld::CSearchStartDlg;

class SearchStartDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // Every test starts from the defaults of [SearchOption].
        for (const char* key : {"Option", "Pic", "SearchDetail"}) veld::WriteIniString("SearchOption", key, nullptr);
    }
    QString Fat16Card(uint32_t clusters) {
        uint8_t sector[512];
        uint32_t total = 0;
        veld::guitest::Fat16BootSector(sector, clusters, &total);
        const QString path = dir_.filePath(QStringLiteral("fat16-%1.img").arg(clusters));
        EXPECT_TRUE(veld::guitest::WriteCard(path, sector, int64_t(total) * 512));
        return path;
    }
    static void LeaveField(QLineEdit* field, const QString& text) {
        field->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(field, &out);
    }
    QTemporaryDir dir_;
};

TEST_F(SearchStartDlgTest, DefaultsOnSixtyThousandClusters) {
    CSearchStartDlg dlg(0, Fat16Card(60000));
    ASSERT_FALSE(dlg.failed()) << dlg.errorText().toStdString();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("検索の開始"));
    EXPECT_EQ(dlg.clusterCount(), 60000);
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("2"));
    EXPECT_EQ(dlg.endField()->text(), QStringLiteral("60000"));
    EXPECT_EQ(dlg.startSlider()->minimum(), 2);
    EXPECT_EQ(dlg.endSlider()->maximum(), 60000);
    EXPECT_FALSE(dlg.optionCheck()->isChecked());
    EXPECT_TRUE(dlg.detailCheck()->isChecked());
    EXPECT_FALSE(dlg.picturesCheck()->isChecked());
    // Collapsed: the window ends at the top of the options group.
    EXPECT_EQ(dlg.height(), dlg.collapsedHeight());
    EXPECT_LT(dlg.collapsedHeight(), dlg.fullHeight());

    QTest::mouseClick(dlg.startButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    const veld::SearchOptions o = dlg.options();
    EXPECT_EQ(o.firstCluster, 2);
    EXPECT_EQ(o.lastCluster, 60000);
    EXPECT_EQ(o.rangeOnly, 0);
    EXPECT_EQ(o.flags, 2);
}

TEST_F(SearchStartDlgTest, OptionToggleExpandsAndPersists) {
    {
        CSearchStartDlg dlg(0, Fat16Card(60000));
        dlg.optionCheck()->setChecked(true);
        EXPECT_EQ(dlg.height(), dlg.fullHeight());
        dlg.optionCheck()->setChecked(false);
        EXPECT_EQ(dlg.height(), dlg.collapsedHeight());
        dlg.optionCheck()->setChecked(true);
        QTest::mouseClick(dlg.startButton(), Qt::LeftButton);
    }
    EXPECT_EQ(veld::ReadIniInt("SearchOption", "Option", 0), 1);
    CSearchStartDlg again(0, Fat16Card(60000));
    EXPECT_TRUE(again.optionCheck()->isChecked());
    EXPECT_EQ(again.height(), again.fullHeight());
}

TEST_F(SearchStartDlgTest, RangeFieldsAreClampedWhenLeft) {
    CSearchStartDlg dlg(0, Fat16Card(60000));
    dlg.optionCheck()->setChecked(true);
    LeaveField(dlg.startField(), QStringLiteral("1000"));
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("1000"));
    EXPECT_EQ(dlg.startSlider()->value(), 1000);
    // An end below the start becomes the start.
    LeaveField(dlg.endField(), QStringLiteral("500"));
    EXPECT_EQ(dlg.endField()->text(), QStringLiteral("1000"));
    EXPECT_EQ(dlg.endSlider()->value(), 1000);
    // An end above the cluster count becomes the count.
    LeaveField(dlg.endField(), QStringLiteral("99999999"));
    EXPECT_EQ(dlg.endField()->text(), QStringLiteral("60000"));
    // A start above the end becomes the end; 0 and junk become 2.
    LeaveField(dlg.endField(), QStringLiteral("30000"));
    LeaveField(dlg.startField(), QStringLiteral("45000"));
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("30000"));
    LeaveField(dlg.startField(), QStringLiteral("0"));
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("2"));
    EXPECT_EQ(dlg.startSlider()->value(), 2);
    LeaveField(dlg.startField(), QStringLiteral("abc"));
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("2"));
    LeaveField(dlg.startField(), QStringLiteral("-50"));
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("2"));

    LeaveField(dlg.startField(), QStringLiteral("100"));
    QTest::mouseClick(dlg.startButton(), Qt::LeftButton);
    const veld::SearchOptions o = dlg.options();
    EXPECT_EQ(o.firstCluster, 100);
    EXPECT_EQ(o.lastCluster, 30000);
    EXPECT_EQ(o.rangeOnly, 1);
}

TEST_F(SearchStartDlgTest, MovingASliderPastTheOtherDragsItAlong) {
    CSearchStartDlg dlg(0, Fat16Card(60000));
    dlg.endSlider()->setValue(20000);
    EXPECT_EQ(dlg.endField()->text(), QStringLiteral("20000"));
    dlg.startSlider()->setValue(25000);
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("25000"));
    EXPECT_EQ(dlg.endField()->text(), QStringLiteral("25000"));
    EXPECT_EQ(dlg.endSlider()->value(), 25000);
    dlg.endSlider()->setValue(10);
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("10"));
    EXPECT_EQ(dlg.startSlider()->value(), 10);
}

TEST_F(SearchStartDlgTest, PicturesOnlyWithoutDetailGivesFlagOneAndPersists) {
    {
        CSearchStartDlg dlg(0, Fat16Card(60000));
        dlg.optionCheck()->setChecked(true);
        dlg.detailCheck()->setChecked(false);
        dlg.picturesCheck()->setChecked(true);
        QTest::mouseClick(dlg.startButton(), Qt::LeftButton);
        EXPECT_EQ(dlg.options().flags, 1);
        EXPECT_EQ(dlg.options().rangeOnly, 0);
    }
    EXPECT_EQ(veld::ReadIniInt("SearchOption", "Pic", 0), 1);
    EXPECT_EQ(veld::ReadIniInt("SearchOption", "SearchDetail", 1), 0);
    CSearchStartDlg next(0, Fat16Card(60000));
    EXPECT_FALSE(next.detailCheck()->isChecked());
    EXPECT_TRUE(next.picturesCheck()->isChecked());
    QTest::mouseClick(next.startButton(), Qt::LeftButton);
    EXPECT_EQ(next.options().flags, 1);
}

TEST_F(SearchStartDlgTest, ClusterCountsBeyondAnIntStayExact) {
    uint8_t sector[512];
    const uint32_t total = 0xFFFFFF00u;
    veld::guitest::Fat32BootSector(sector, total);
    const QString path = dir_.filePath("big.img");
    ASSERT_TRUE(veld::guitest::WriteCard(path, sector, 1 << 20));
    CSearchStartDlg dlg(0, path);
    ASSERT_FALSE(dlg.failed());
    const int64_t count = int64_t(total) - 32 - 2 * 1000;
    EXPECT_EQ(dlg.clusterCount(), count);
    EXPECT_GT(count, int64_t(INT32_MAX));
    EXPECT_EQ(dlg.endField()->text(), QString::number(count));
    EXPECT_LE(dlg.endSlider()->maximum(), INT32_MAX);
    EXPECT_EQ(dlg.endSlider()->value(), dlg.endSlider()->maximum());

    LeaveField(dlg.startField(), QStringLiteral("3000000001"));
    EXPECT_EQ(dlg.startField()->text(), QStringLiteral("3000000001"));
    EXPECT_GT(dlg.startSlider()->value(), dlg.startSlider()->maximum() / 2);
    // Sliding the end to its top gives back the exact count.
    dlg.endSlider()->setValue(dlg.endSlider()->maximum() - 1);
    dlg.endSlider()->setValue(dlg.endSlider()->maximum());
    EXPECT_EQ(dlg.endField()->text(), QString::number(count));
    QTest::mouseClick(dlg.startButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.options().firstCluster, 3000000001LL);
    EXPECT_EQ(dlg.options().lastCluster, count);
    EXPECT_EQ(dlg.options().rangeOnly, 1);
}

TEST_F(SearchStartDlgTest, RawCardOffersItsSectorCount) {
    const QString path = dir_.filePath("raw.img");
    ASSERT_TRUE(veld::guitest::WriteCard(path, nullptr, 1 << 20));
    CSearchStartDlg dlg(0, path);
    ASSERT_FALSE(dlg.failed());
    EXPECT_EQ(dlg.clusterCount(), 2048);
    EXPECT_EQ(dlg.endField()->text(), QStringLiteral("2048"));
}

TEST_F(SearchStartDlgTest, UnopenableSourceFails) {
    CSearchStartDlg dlg(0, dir_.filePath("missing.img"));
    EXPECT_TRUE(dlg.failed());
    // The short text, then which file and why.
    EXPECT_EQ(dlg.errorText(), QStringLiteral("オープンエラー\n") + dir_.filePath("missing.img") +
                                   QStringLiteral(": ファイルがありません"));
}

}  // namespace
