#include <gtest/gtest.h>

#include <random>
#include <string>

#include "About/link_highlight.h"

using namespace about;

namespace {

// Two link lines that count the repaints a colour change would cause.
class FakeLines : public LinkLines {
public:
    ColorRef mail = linkRestColor, web = linkRestColor;
    int mailRepaints = 0, webRepaints = 0;

    ColorRef MailColor() const override { return mail; }
    ColorRef WebColor() const override { return web; }
    void SetMailColor(ColorRef c) override
    {
        if (c != mail)
            ++mailRepaints;
        mail = c;
    }
    void SetWebColor(ColorRef c) override
    {
        if (c != web)
            ++webRepaints;
        web = c;
    }

    void enter(LinkState s)
    {
        mail = s == LinkState::Mail ? linkLitColor : linkRestColor;
        web = s == LinkState::Web ? linkLitColor : linkRestColor;
        mailRepaints = webRepaints = 0;
    }
};

enum class Zone { Mail, Web, Neutral };

void move(LinkLines &lines, Zone zone)
{
    switch (zone) {
    case Zone::Mail: pointerOverMailLine(lines); break;
    case Zone::Web: pointerOverWebLine(lines); break;
    case Zone::Neutral: pointerOverNeutralZone(lines); break;
    }
}

struct Transition {
    const char *name;
    LinkState from;
    Zone zone;
    LinkState to;
    bool mailRepainted, webRepainted;
};

// The whole table: three states by three places the pointer can move to.
const Transition transitions[] = {
    {"NoneOverMail", LinkState::None, Zone::Mail, LinkState::Mail, true, false},
    {"NoneOverWeb", LinkState::None, Zone::Web, LinkState::Web, false, true},
    {"NoneOverNeutral", LinkState::None, Zone::Neutral, LinkState::None, false, false},
    {"MailOverMail", LinkState::Mail, Zone::Mail, LinkState::Mail, false, false},
    {"MailOverWeb", LinkState::Mail, Zone::Web, LinkState::Web, true, true},
    {"MailOverNeutral", LinkState::Mail, Zone::Neutral, LinkState::None, true, false},
    {"WebOverMail", LinkState::Web, Zone::Mail, LinkState::Mail, true, true},
    {"WebOverWeb", LinkState::Web, Zone::Web, LinkState::Web, false, false},
    {"WebOverNeutral", LinkState::Web, Zone::Neutral, LinkState::None, false, true},
};

// Names the row in test output (and so in ctest's names) by its name alone.
void PrintTo(const Transition &t, std::ostream *os) { *os << t.name; }

class LinkHighlightTransition : public testing::TestWithParam<Transition> {};

} // namespace

TEST_P(LinkHighlightTransition, LeadsToTheNextStateRepaintingOnlyChangedLines)
{
    const Transition &t = GetParam();
    FakeLines lines;
    lines.enter(t.from);
    move(lines, t.zone);
    EXPECT_EQ(linkState(lines), t.to);
    // The colours are exactly the two the lines may have.
    EXPECT_EQ(lines.mail, t.to == LinkState::Mail ? linkLitColor : linkRestColor);
    EXPECT_EQ(lines.web, t.to == LinkState::Web ? linkLitColor : linkRestColor);
    EXPECT_EQ(lines.mailRepaints, t.mailRepainted ? 1 : 0);
    EXPECT_EQ(lines.webRepaints, t.webRepainted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Table, LinkHighlightTransition, testing::ValuesIn(transitions),
                         [](const testing::TestParamInfo<Transition> &info) { return std::string(info.param.name); });

TEST(LinkHighlight, AtMostOneLineIsLitWhateverThePointerDoes)
{
    std::mt19937 random(1806);
    FakeLines lines;
    for (int i = 0; i < 2000; ++i) {
        const Zone zone = Zone(random() % 3);
        move(lines, zone);
        ASSERT_FALSE(lines.mail == linkLitColor && lines.web == linkLitColor) << "after move " << i;
        // The line under the pointer is lit; a neutral zone leaves none lit.
        ASSERT_EQ(linkState(lines), zone == Zone::Mail  ? LinkState::Mail
                                    : zone == Zone::Web ? LinkState::Web
                                                        : LinkState::None);
    }
}
