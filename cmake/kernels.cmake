# SIMD kernels and their run-time dispatch: added to mime_cores here.
