#pragma once

#include "formulas/Punk.hpp"
#include "formulas/RoutineNames.hpp"
#include "formulas/Tame.hpp"
#include "formulas/aries.hpp"
#include "formulas/blood.hpp"
#include "formulas/celt.hpp"
#include "formulas/dune.hpp"
#include "formulas/eeee.hpp"
#include "formulas/fun.hpp"
#include "formulas/grin.hpp"
#include "formulas/hix.hpp"
#include "formulas/ice.hpp"
#include "formulas/joke.hpp"
#include "formulas/kraken.hpp"
#include "formulas/limbo.hpp"
#include "formulas/numb.hpp"
#include "formulas/ooh.hpp"
#include "formulas/qwin.hpp"
#include "formulas/rave.hpp"
#include "formulas/sizZle.hpp"

namespace spirell::formulas {

template <typename V> using PixelFunction = ChannelTerms<V> (*)(const PixelPoint<V>&);

// Every formula's per-pixel function, entry i for the formula named
// kRoutineNames[i].
template <typename V>
inline constexpr PixelFunction<V> kPixelFunctions[] = {
    aries<V>,  blood<V>, celt<V>, dune<V>, eeee<V>, fun<V>,  grin<V>, hix<V>,    ice<V>,  joke<V>,
    kraken<V>, limbo<V>, numb<V>, ooh<V>,  Punk<V>, qwin<V>, rave<V>, sizZle<V>, Tame<V>,
};

} // namespace spirell::formulas
