// Which recovery slices rebuild which missing input slices: Gauss-Jordan
// elimination over GF(2^16) with a pivot search. The recovery slices are
// taken one at a time; one that adds nothing to those already taken (the
// rows would be singular, which PAR2's matrix can be) is passed over and the
// next is tried. A set whose recovery slices cannot make up the missing ones
// is reported as such, never solved wrongly.
#pragma once
#include <stdint.h>

struct Solution {
    int missing;            // m: input slices to rebuild
    uint32_t* exponents;    // m: the recovery slices used, in the order of the columns of `inverse`
    uint16_t* inverse;      // m x m: missing slice k = sum over j of inverse[k*m + j] * D_j, where D_j
                            // is recovery slice exponents[j] with every present input slice's share removed
    int short_by;           // when unsolved: how many more recovery slices would be needed at least
};

enum SolveResult : int {
    Solved = 0,
    Unsolvable,     // too few independent recovery slices: short_by says how many more
    SolveNoMemory,
};

// `missing_slices`: the set-wide indices of the m input slices to rebuild;
// `exponents`: the n recovery slices at hand, tried in this order. The
// solution's arrays are allocated here; solution_free releases them.
SolveResult solve_missing(const uint32_t* missing_slices, int m, const uint32_t* exponents, int n, Solution* out);
void solution_free(Solution* s);
