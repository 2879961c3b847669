#pragma once

#include "render/Formula.hpp"

// The per-pixel mathematics of each formula, one file each.
namespace spirell::formulas {

ChannelTerms aries(const PixelPoint& p);
ChannelTerms blood(const PixelPoint& p);
ChannelTerms celt(const PixelPoint& p);
ChannelTerms dune(const PixelPoint& p);
ChannelTerms eeee(const PixelPoint& p);
ChannelTerms fun(const PixelPoint& p);
ChannelTerms grin(const PixelPoint& p);
ChannelTerms hix(const PixelPoint& p);
ChannelTerms ice(const PixelPoint& p);
ChannelTerms joke(const PixelPoint& p);
ChannelTerms kraken(const PixelPoint& p);
ChannelTerms limbo(const PixelPoint& p);
ChannelTerms numb(const PixelPoint& p);
ChannelTerms ooh(const PixelPoint& p);
ChannelTerms Punk(const PixelPoint& p);
ChannelTerms qwin(const PixelPoint& p);
ChannelTerms rave(const PixelPoint& p);
ChannelTerms sizZle(const PixelPoint& p);
ChannelTerms Tame(const PixelPoint& p);

} // namespace spirell::formulas
