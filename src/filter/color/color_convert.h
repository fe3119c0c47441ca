// Row conversions between the host's CMYK and Lab modes and the RGB rows that the fill works on,
// for 8-bit and 16-bit samples. Each converts one row of interleaved pixels in place and keeps
// no state; none is an exact inverse of its partner, so a round trip can move a sample a little.
#pragma once

#include <cstdint>

// Every function takes the address of the row's first sample and its pixel count; a count below
// 1 leaves the row untouched. The functions report nothing.
//
// 8-bit rows hold uint8_t samples 0..255. 16-bit rows hold uint16_t samples in the machine's byte
// order on the host's 0..32768 scale. RGB and Lab rows have 3 samples a pixel (Lab: L, a, b with
// a and b centred on 128 or 16384), CMYK rows 4 (C, M, Y, K). 8-bit CMYK samples are stored as
// 255 minus the ink (255 is no ink); 16-bit CMYK samples are the ink itself (32768 is full ink).

// CMYK to RGB: the row shrinks from 4 to 3 samples a pixel, packed from the row's start; the
// buffer's last count samples are left as they were (stale CMYK samples).
void _ConvertCMYK8toRGB24(void* row, int32_t count);
void _ConvertCMYK16toRGB48(void* row, int32_t count);

// RGB to CMYK: the row grows from 3 to 4 samples a pixel, so the buffer must have room for
// 4 × count samples; the first 3 × count are read.
void _ConvertRGB24toCMYK8(void* row, int32_t count);
void _ConvertRGB48toCMYK16(void* row, int32_t count);

// Lab to RGB and back: 3 samples a pixel both ways.
void _ConvertLAB8toRGB24(void* row, int32_t count);
void _ConvertRGB24toLAB8(void* row, int32_t count);
void _ConvertLAB16toRGB48(void* row, int32_t count);
void _ConvertRGB48toLAB16(void* row, int32_t count);
