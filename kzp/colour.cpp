#include "colour.h"

#include <cmath>

namespace {

// The n-th root of a >= 0 by Newton's method in double precision, from a
// power of two at or above the root: the steps fall towards the root and stop
// where they no longer fall.  Only +, -, * and / are used, which IEEE 754
// rounds the same everywhere, so the result is the same bits on every
// machine and C library (the libraries' own pow and cbrt are not).
double root(double a, int n) {
    if (a <= 0) return 0;
    int exponent = 0;
    std::frexp(a, &exponent); // a < 2^exponent
    double y = std::ldexp(1.0, exponent > 0 ? (exponent + n - 1) / n : -(-exponent / n));
    for (;;) {
        double power = 1; // y^(n - 1)
        for (int k = 1; k < n; k++)
            power *= y;
        const double next = ((n - 1) * y + a / power) / n;
        if (!(next < y)) return y;
        y = next;
    }
}

} // namespace

float linear_of(uint8_t channel) {
    static const auto table = [] {
        struct Table {
            float linear[256];
        } t;
        for (int v = 0; v < 256; v++) {
            const double c = v / 255.0, x = (c + 0.055) / 1.055;
            // x^2.4 = x^2 * (x^2)^(1/5)
            t.linear[v] = static_cast<float>(c <= 0.04045 ? c / 12.92 : x * x * root(x * x, 5));
        }
        return t;
    }();
    return table.linear[channel];
}

Oklab oklab_of_linear(float red, float green, float blue) {
    const float l = static_cast<float>(
        root(0.4122214708f * red + 0.5363325363f * green + 0.0514459929f * blue, 3));
    const float m = static_cast<float>(
        root(0.2119034982f * red + 0.6806995451f * green + 0.1073969566f * blue, 3));
    const float s = static_cast<float>(
        root(0.0883024619f * red + 0.2817188376f * green + 0.6299787005f * blue, 3));
    return {0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s,
            1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s,
            0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s};
}

Oklab oklab_of(const uint8_t* rgb) {
    return oklab_of_linear(linear_of(rgb[0]), linear_of(rgb[1]), linear_of(rgb[2]));
}

float delta_e(const Oklab& x, const Oklab& y) {
    const float dl = x.l - y.l, da = x.a - y.a, db = x.b - y.b;
    return std::sqrt(dl * dl + da * da + db * db);
}

int nearest_entry(const Oklab* palette, const Oklab& colour) {
    int best = 0;
    float nearest = INFINITY;
    for (int i = 0; i < 256; i++) {
        const float dl = palette[i].l - colour.l, da = palette[i].a - colour.a,
                    db = palette[i].b - colour.b, d = dl * dl + da * da + db * db;
        if (d < nearest) nearest = d, best = i;
    }
    return best;
}
