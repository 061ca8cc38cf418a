#include "app/about_window.h"

#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_url_opener.h"
#include "platform/fakes/scripted_alerts.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <optional>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

struct AboutRig {
    explicit AboutRig(const QString& language) { settings.setString(u"appLanguage"_s, language); }
    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    ScriptedAlerts alerts;
    RecordingUrlOpener urls;
    AboutWindow about{alerts, urls, LocalizedStrings{settings, languages}};
};

TEST(AboutWindow, TextsAndButtonsInBothLanguages) {
    struct Case {
        QString language;
        QString title;
        QString body;
        QStringList buttons;
    };
    const std::vector<Case> cases = {
        {u"en"_s,
         u"About Quillet"_s,
         u"Version: 1.0\n© 2026 Tarnwick\n\nSimple utility for easier data entry."_s,
         {u"Visit Website"_s, u"Feedback"_s, u"Support Dev"_s, u"Close"_s}},
        {u"zh"_s,
         u"关于 Quillet"_s,
         u"版本: 1.0\n© 2026 塔恩威克\n\n简单的效率工具，让数据录入更轻松。"_s,
         {u"访问主页"_s, u"反馈问题"_s, u"支持开发者"_s, u"关闭"_s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language.toStdString());
        AboutRig rig(c.language);
        rig.alerts.answer(kFirstButtonResponse + 3);
        rig.about.show();
        ASSERT_EQ(rig.alerts.shown().size(), 1u);
        const AlertSpec& shown = rig.alerts.shown().front();
        EXPECT_EQ(shown.message, c.title);
        EXPECT_EQ(shown.informative, c.body);
        EXPECT_EQ(shown.buttons, c.buttons);
        EXPECT_EQ(shown.style, AlertStyle::Informational);
        EXPECT_TRUE(shown.activate) << "About comes to the front";
    }
}

TEST(AboutWindow, EachLinkButtonOpensItsLinkAndCloseNothing) {
    struct Case {
        int button;
        std::optional<QString> opened;
    };
    const std::vector<Case> cases = {
        {0, u"https://tarnwick.example/Quillet/"_s},
        {1, u"https://code.tarnwick.example/tarnwick/Quillet/issues"_s},
        {2, u"https://tarnwick.example/Quillet/#support"_s},
        {3, std::nullopt},
        // However the dialog ends without a link button, nothing opens.
        {-1, std::nullopt},
        {7, std::nullopt},
    };
    for (const QString& language : {u"en"_s, u"zh"_s}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(language.toStdString() + " button " + std::to_string(c.button));
            AboutRig rig(language);
            rig.alerts.answer(kFirstButtonResponse + c.button);
            rig.about.show();
            if (c.opened) {
                ASSERT_EQ(rig.urls.opened().size(), 1u);
                const QUrl& url = rig.urls.opened().front();
                EXPECT_EQ(url.toString(), *c.opened);
                EXPECT_EQ(url.scheme(), u"https");
            } else {
                EXPECT_TRUE(rig.urls.opened().empty());
            }
        }
    }
}

}  // namespace
}  // namespace quillet
