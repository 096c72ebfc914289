// Fitting an edited picture into its entry's stored size when its stream
// needs more bytes than the entry holds.
//
// The edit is what the modder changed: the pixels whose colour in the
// picture, as it was saved, is not the entry's colour at that place.  A fit
// changes pixels of the edit only; every other pixel keeps the entry's
// index.  So a fit always exists where the entry's own bytes are what is
// left around the pixels: with every pixel of the edit back as it was, the
// image is the entry's own, whose stream fits.
//
// Within the edit the fit is the least visible of several ways to spend
// fewer bytes, each as little as makes the picture fit, measured as the sum
// over the edit of delta E OK (colour.h) between each pixel's colour and the
// colour it was to have (the picture as mapped, dithered or not):
//
//   back as it was  the edit's pixels take the entry's colours again, those
//                   that the edit changed least first (with dithering, the
//                   dithered pixels first take their nearest colours);
//   fewer colours   the edit's pixels keep the edit's most used colours or
//                   their own old ones, whichever is nearest: rare shades
//                   and anti-aliasing steps go into the strokes and the
//                   ground around them;
//   copies          references copy other bytes than the picture's inside
//                   the edit where that saves bits worth the change
//                   (lzss_encode_lossy).
//
// Of the second and third, every change that the stream can do without is
// then undone, the most visible first.
#pragma once

#include <cstdint>
#include <vector>

// A fit hardly shows when, over the edit's pixels, its colours differ from
// those wanted by at most kFitMean on average, and by at most kFitSeen on
// average seen from a step back (each pixel's colour averaged with its eight
// neighbours', in linear light, before they are compared): a change of
// anti-aliased edges to the colours on either side hardly shows, one of the
// colour of a whole stroke does.  0.02 is about the least difference of two
// colours that the eye sees.
constexpr float kFitMean = 0.05f, kFitSeen = 0.02f;

struct FitInput {
    const std::vector<uint8_t>* entry;  // the entry's decoded image
    const std::vector<uint8_t>* wanted; // the picture in the entry's layout, as it was to go back
    const std::vector<uint8_t>* edited; // per pixel: not 0 where the picture changed the entry
    // With dithering: the pixels as nearest colours alone would map them; else null.
    const std::vector<uint8_t>* nearest;
    uint64_t size; // the entry's stored size
};

struct Fit {
    bool fitted;                // false: even every pixel of the edit as it was does not fit
    std::vector<uint8_t> image; // `wanted` with pixels of the edit changed, which fits
    uint64_t edit;              // pixels in the edit
    uint64_t changed;           // of them, pixels whose colour the fit changed
    float mean, largest;        // delta E OK of the changes: the mean over the edit, the largest
    float seen;                 // the mean over the edit seen from a step back
};

// The least visible fit of input.wanted into input.size bytes.
Fit fit_edit(const FitInput& input);

// Whether the changes of a fit that fitted hardly show.
bool fit_hardly_shows(const Fit& fit);
