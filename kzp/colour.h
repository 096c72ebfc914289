// Colours as the eye compares them, for mapping a picture onto a palette
// that lacks some of its colours.
//
// OKLab (Björn Ottosson's, the perceptual space of CSS Color 4): an sRGB
// colour's channels are made linear (the sRGB transfer curve), mixed into
// cone responses (LMS), put through a cube root and mixed again into
// lightness L and the opponent axes a and b.  The Euclidean distance of two
// colours there, delta E OK, is about 0.02 where a difference just shows.
#pragma once

#include <cstdint>

struct Oklab {
    float l, a, b;
};

// An sRGB channel (0..255) as linear light (0..1).
float linear_of(uint8_t channel);

// The OKLab coordinates of a colour given in linear light (each 0..1).
Oklab oklab_of_linear(float red, float green, float blue);

// The OKLab coordinates of the sRGB colour red, green, blue at `rgb`.
Oklab oklab_of(const uint8_t* rgb);

float delta_e(const Oklab& x, const Oklab& y);

// The index of the entry of `palette` (256 colours in OKLab) nearest to `colour`; the lowest of
// equally near ones.
int nearest_entry(const Oklab* palette, const Oklab& colour);
