// How the bulk kernels are compiled: cloned for AVX-512, AVX2 and baseline
// x86-64, the clone picked when the library loads.
//
// Vectorising keeps every IEEE operation and its grouping (the build forbids
// contraction into fused multiply-adds), so every clone gives the bits of the
// scalar code.
//
// The clone is picked through an ifunc, which needs ELF and a C library that
// resolves it (glibc; musl does not). Elsewhere (macOS, Windows, musl, other
// architectures) the kernels are built once, for the baseline.
// Clang multiversions plain functions but not function templates (it fails
// on a template with target_clones), so with clang the template kernels are
// baseline code and only plain functions are cloned.
// Nothing is cloned under ThreadSanitizer, whose runtime is not up yet when
// the loader resolves the clones.
// The build option ORVATH_KERNELS=avx2 builds the AVX2 clone alone (with the
// baseline for processors without AVX2), and baseline the baseline alone, to
// profile either on any processor that runs it.
#pragma once

// (A plain target attribute would not do for the AVX2 build: GCC leaves the
// explicit instantiations of a function template with one as baseline code.)
#if defined(ORVATH_KERNELS_BASELINE)
#define ORVATH_KERNEL
#elif defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__) && defined(__GLIBC__) && \
    !defined(__SANITIZE_THREAD__)
#define ORVATH_CLONED 1
#if defined(ORVATH_KERNELS_AVX2)
#define ORVATH_KERNEL __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ORVATH_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
#else
#define ORVATH_KERNEL
#endif
#if defined(__clang__)
#define ORVATH_TEMPLATE_KERNEL
#else
#define ORVATH_TEMPLATE_KERNEL ORVATH_KERNEL
#if defined(ORVATH_CLONED)
#define ORVATH_TEMPLATES_CLONED 1
#endif
#endif
