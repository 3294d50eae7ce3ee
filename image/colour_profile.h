// Colour profiles (ICC) through Little CMS: which profiles a picture can be
// held in, whether two pictures are in the same space, and the conversion of a
// picture's colours from one space into another. An empty profile stands for
// sRGB, the space of every picture that names none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/dib.h"

namespace tessara {

using IccProfile = std::vector<uint8_t>;

enum class ProfileUse {
  kUsable,      // a colour (RGB) profile, or a grey one for a grey picture
  kUnreadable,  // not a profile Little CMS can read, or one that converts nothing
  kWrongSpace,  // a profile of another colour space than the picture's (CMYK, Lab, grey for colours)
};

// Whether `icc` can be the space of a picture: colour pictures need an RGB
// profile, grey ones (`grey`) may also have a grey profile.
ProfileUse CheckProfile(const IccProfile& icc, bool grey);

// The profile's own description ("Adobe RGB (1998)"); "sRGB" for the empty one.
std::string ProfileName(const IccProfile& icc);

// True when both profiles are RGB profiles and name the same space (the same
// bytes, or the same colorants and tone curves), so that nothing needs
// converting between them. Two empty profiles are the same.
bool SameColourSpace(const IccProfile& a, const IccProfile& b);

// Converts the colours of `dib` (uncompressed, 4, 8, 24 or 32 bits: the rows,
// or the colour table of an indexed picture; 1-bit pictures are black and
// white and stay as they are) from the space of `from` into the space of `to`,
// relative colorimetric with black point compensation. False, and the picture
// unchanged, when a profile cannot be used.
bool ConvertColours(Dib& dib, const IccProfile& from, const IccProfile& to);

}  // namespace tessara
