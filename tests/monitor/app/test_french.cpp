// The toolkit's French catalogue: the save dialog's question and the standard buttons.
#include "toolkitfrench.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <gtest/gtest.h>

TEST(ToolkitFrench, TheToolkitsOwnTextsSpeakFrench) {
    const QString question = QStringLiteral("%1 already exists.\nDo you want to replace it?");
    ASSERT_EQ(QFileDialog::tr("%1 already exists.\nDo you want to replace it?"), question);
    {
        QTranslator translator;
        ASSERT_TRUE(InstallToolkitFrench(translator));
        EXPECT_TRUE(QFileDialog::tr("%1 already exists.\nDo you want to replace it?")
                        .contains(QStringLiteral("existe")));
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Oui"));
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Non"));
    }
    // A translator that is gone no longer translates.
    EXPECT_EQ(QFileDialog::tr("%1 already exists.\nDo you want to replace it?"), question);
}
