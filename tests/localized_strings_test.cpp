#include "app/localized_strings.h"

#include "app/notifier.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/manual_main_queue.h"
#include "platform/fakes/scripted_alerts.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

const QString kLanguageKey = u"appLanguage"_s;

TEST(LocalizedStrings, PicksChineseByTheSettingOrElseTheFirstSystemLanguage) {
    struct Case {
        std::optional<QString> setting;
        QStringList system;
        bool chinese;
    };
    const QStringList zhFirst{u"zh-Hans-CN"_s, u"en-US"_s};
    const QStringList enFirst{u"en-US"_s, u"zh-Hans-CN"_s};
    const std::vector<Case> cases = {
        {std::nullopt, zhFirst, true},
        {std::nullopt, enFirst, false},
        {u"auto"_s, {u"zh-Hant-TW"_s}, true},
        {u"auto"_s, {}, false},
        {u"en"_s, zhFirst, false},
        {u"zh"_s, enFirst, true},
        {u"zh"_s, {}, true},
        // Anything else is "auto".
        {u"ZH"_s, enFirst, false},
        {u" zh"_s, enFirst, false},
        {u"fr"_s, enFirst, false},
        {u"fr"_s, zhFirst, true},
        {u"EN"_s, zhFirst, true},
        {u""_s, zhFirst, true},
    };
    // One object throughout: every question must read the setting afresh.
    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    const LocalizedStrings strings(settings, languages);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting.value_or(u"<absent>"_s).toStdString() + " / " +
                     c.system.join(u',').toStdString());
        if (c.setting) {
            settings.setString(kLanguageKey, *c.setting);
        } else {
            settings.setRaw(kLanguageKey, QVariant());
        }
        languages.set(c.system);
        EXPECT_EQ(strings.isChinese(), c.chinese);
        EXPECT_EQ(strings.text(u"yes", u"是"), c.chinese ? u"是"_s : u"yes"_s);
    }
}

struct NotifierRig {
    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    ManualMainQueue mainQueue;
    ScriptedAlerts alerts;
    Notifier notifier{mainQueue, alerts, LocalizedStrings{settings, languages}};
};

TEST(Notifier, ShowsNoticesOnTheMainQueueInRequestOrder) {
    NotifierRig rig;
    rig.notifier.notify(u"first", u"第一");
    rig.notifier.showNotification(u"Title"_s, u"second"_s);
    rig.notifier.notify(u"third", u"第三");
    EXPECT_TRUE(rig.alerts.shown().empty()) << "nothing is shown off the main queue";
    rig.mainQueue.runPending();
    QStringList messages;
    for (const AlertSpec& spec : rig.alerts.shown()) {
        messages.append(spec.informative);
    }
    EXPECT_EQ(messages, (QStringList{u"first"_s, u"second"_s, u"third"_s}));
}

TEST(Notifier, ButtonFollowsTheLanguageAtShowTimeWhileCallerTextsStay) {
    NotifierRig rig;
    rig.settings.setString(kLanguageKey, u"en"_s);
    rig.notifier.showNotification(u"Title"_s, u"Message"_s);
    rig.settings.setString(kLanguageKey, u"zh"_s);
    rig.mainQueue.runPending();
    rig.notifier.showNotification(u"标题"_s, u"内容"_s);
    rig.settings.setString(kLanguageKey, u"en"_s);
    rig.mainQueue.runPending();

    const std::vector<AlertSpec>& shown = rig.alerts.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].message, u"Title");
    EXPECT_EQ(shown[0].informative, u"Message");
    EXPECT_EQ(shown[0].buttons, QStringList{u"好的"_s});
    EXPECT_EQ(shown[1].message, u"标题");
    EXPECT_EQ(shown[1].informative, u"内容");
    EXPECT_EQ(shown[1].buttons, QStringList{u"OK"_s});
    for (const AlertSpec& spec : shown) {
        EXPECT_EQ(spec.style, AlertStyle::Informational);
    }
}

}  // namespace
}  // namespace quillet
