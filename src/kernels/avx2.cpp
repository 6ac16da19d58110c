// The kernels on 32-byte blocks (AVX2).
#include <immintrin.h>

#include "base/decisions.hpp"
#include "kernels/kernels.hpp"
#include "module/tables.hpp"

namespace mime {
namespace {

#include "kernels/avx2_vector.inc"
#include "kernels/base64.inc"
#include "kernels/lines.inc"
#include "kernels/qp.inc"

}  // namespace

extern const kernel_table avx2_kernels{b64_blocks,   unb64_blocks, qp_blocks,  unqp_blocks,
                                       qpwrp_blocks, wrp_blocks,   eol_blocks, dot_blocks,
                                       eol_clean_blocks};

}  // namespace mime
