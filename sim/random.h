// Small, fast pseudo-random numbers for the emulator: a seedable stream for noise, and a
// hash that gives every pixel its own fixed properties without storing a generator.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

namespace ulvarin::sim {

// SplitMix64 finaliser: a well-mixed 64-bit hash of `x`.
constexpr uint64_t Mix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A uniform number in (0, 1) from 64 random bits (never 0, so its logarithm is finite).
inline double UnitFromBits(uint64_t bits) {
    return (static_cast<double>(bits >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() { return Mix64(state_++); }
    double Uniform() { return UnitFromBits(Next()); }
    // Standard normal (Box-Muller).
    double Gaussian() {
        const double u = Uniform(), v = Uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
    }
    // A Poisson-distributed count with this mean: exact for small means, the normal
    // approximation above 30.
    uint64_t Poisson(double mean) {
        if (mean <= 0) return 0;
        if (mean > 30) {
            const double x = std::round(mean + std::sqrt(mean) * Gaussian());
            return x <= 0 ? 0 : static_cast<uint64_t>(x);
        }
        const double none = std::exp(-mean);
        const double u = Uniform();
        if (u <= none) return 0;
        return u <= none * (1 + mean) ? 1 : PoissonBeyondOne(mean, none, u);
    }
    // The count that uniform number `u` stands for by inversion of the distribution of this
    // mean (at most 30), when it lies beyond the chance of at most one: `none` = exp(-mean).
    static uint64_t PoissonBeyondOne(double mean, double none, double u) {
        double term = none * mean, below = none + term;
        uint64_t count = 1;
        // The bound only guards against a rounded-off tail that never reaches u.
        while (u > below && count < 1000) {
            ++count;
            term *= mean / static_cast<double>(count);
            below += term;
        }
        return count;
    }

private:
    uint64_t state_;
};

}  // namespace ulvarin::sim
