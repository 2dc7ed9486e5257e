#include "hall/proof.h"

PROOF prove(const RUN &) {
    PROOF proof;
    proof.status = 400;
    proof.error = "not yet";
    return proof;
}
