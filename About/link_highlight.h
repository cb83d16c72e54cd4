#pragma once

#include "canvas/color_ref.h"

// The About window's two link lines light up under the pointer. Their font
// colours are the only state: each line is either at rest (clLinkRest) or lit
// (clBlue), and at most one of them is lit.
//
//   state   e-mail  web     over e-mail  over web  over a neutral zone
//   none    rest    rest    -> e-mail    -> web    stays
//   e-mail  blue    rest    stays        -> web    -> none
//   web     rest    blue    -> e-mail    stays     -> none
//
// Controls without a pointer-move handler (the author line, the location
// line, the separator) run none of these, so the colours stay as they are.

namespace about {

constexpr ColorRef linkRestColor = clLinkRest;
constexpr ColorRef linkLitColor = clBlue;

// The two link lines as the highlighting sees them: their font colours, read
// and written through the lines themselves. Setting a colour the line already
// has must repaint nothing.
class LinkLines {
public:
    virtual ~LinkLines() = default;
    virtual ColorRef MailColor() const = 0;
    virtual void SetMailColor(ColorRef color) = 0;
    virtual ColorRef WebColor() const = 0;
    virtual void SetWebColor(ColorRef color) = 0;
};

enum class LinkState { None, Mail, Web };

// Which line is lit; a web line lit alongside the e-mail line (which the
// handlers never produce) counts as the e-mail state.
LinkState linkState(const LinkLines &lines);

// The pointer moved over the e-mail line: unless it is lit already, light it
// and put the web line to rest, in that order.
void pointerOverMailLine(LinkLines &lines);
// The pointer moved over the web line: unless it is lit already, put the
// e-mail line to rest and light the web line, in that order.
void pointerOverWebLine(LinkLines &lines);
// The pointer moved over a neutral zone: if either line is lit, put the
// e-mail line, then the web line, to rest.
void pointerOverNeutralZone(LinkLines &lines);

} // namespace about
