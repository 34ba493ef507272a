#pragma once

#include "normalizer/FileAnalysis.h"

#include <cstdint>
#include <functional>
#include <string>

// The second pass: writes the file again with the gain applied, through a temporary
// file in the same folder that is flushed to the disk and then renamed over the
// original. On any failure the original is untouched and the temporary file removed.
namespace wav_rewriter {

// Given the loudness of the limited samples before the original is replaced: false keeps
// the original.
using LoudnessCheck = std::function<bool(double lufs)>;

// Throws WavError when the file cannot be rewritten, or changed since `expected`. With a
// limiter ceiling (linear, > 0) the gain goes through the true-peak limiter, and `check`
// (when given) decides whether the result replaces the original; returns whether it did.
// deepestGain receives the limiter's smallest gain (linear).
bool rewrite(const std::string& path, const FileIdentity& expected, double gainDb, double limiterCeiling = 0,
             const LoudnessCheck& check = {}, double* deepestGain = nullptr);

}  // namespace wav_rewriter
