#include "About/link_highlight.h"

namespace about {

LinkState linkState(const LinkLines &lines)
{
    if (lines.MailColor() == linkLitColor)
        return LinkState::Mail;
    if (lines.WebColor() == linkLitColor)
        return LinkState::Web;
    return LinkState::None;
}

void pointerOverMailLine(LinkLines &lines)
{
    if (lines.MailColor() == linkLitColor)
        return;
    lines.SetMailColor(linkLitColor);
    lines.SetWebColor(linkRestColor);
}

void pointerOverWebLine(LinkLines &lines)
{
    if (lines.WebColor() == linkLitColor)
        return;
    lines.SetMailColor(linkRestColor);
    lines.SetWebColor(linkLitColor);
}

void pointerOverNeutralZone(LinkLines &lines)
{
    if (lines.MailColor() != linkLitColor && lines.WebColor() != linkLitColor)
        return;
    lines.SetMailColor(linkRestColor);
    lines.SetWebColor(linkRestColor);
}

} // namespace about
