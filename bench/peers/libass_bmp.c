/* The libass side of the peer benchmark: renders every event of an SSA/ASS script at its start
 * time into a 720x480 frame and writes one cropped 4-bit BMP per event, the job a conversion to
 * subpicture bitmaps does with a general-purpose renderer.
 *
 *   libass_bmp SCRIPT OUTDIR [--render-only]
 *
 * Each frame's images are blended over a transparent canvas; the box of everything drawn is
 * written as 16 levels (index 0 transparent, 1-15 by luminance). Like `tessara generate`, the
 * files are written without a sync each and the file system is synced once at the end.
 * --render-only renders every frame and writes nothing. Prints the number of files written. */
#define _GNU_SOURCE
#include <ass/ass.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kWidth = 720, kHeight = 480, kPaletteEntries = 16 };

/* Straight colour and coverage per pixel of the frame. */
static uint8_t g_rgb[kHeight][kWidth][3];
static uint8_t g_alpha[kHeight][kWidth];

static void put16(uint8_t* p, unsigned v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

/* Blends one libass image over the canvas and widens the box of drawn pixels. */
static void blend(const ASS_Image* img, int box[4]) {
    const unsigned opacity = 255 - (img->color & 0xFF);
    const uint8_t c[3] = {(uint8_t)(img->color >> 24), (uint8_t)(img->color >> 16),
                          (uint8_t)(img->color >> 8)};
    for (int y = 0; y < img->h; ++y) {
        const int fy = img->dst_y + y;
        if (fy < 0 || fy >= kHeight) {
            continue;
        }
        const unsigned char* src = img->bitmap + (size_t)y * (size_t)img->stride;
        for (int x = 0; x < img->w; ++x) {
            const int fx = img->dst_x + x;
            const unsigned a = src[x] * opacity / 255;
            if (a == 0 || fx < 0 || fx >= kWidth) {
                continue;
            }
            uint8_t* d = g_rgb[fy][fx];
            for (int k = 0; k < 3; ++k) {
                d[k] = (uint8_t)((d[k] * (255 - a) + c[k] * a) / 255);
            }
            g_alpha[fy][fx] = (uint8_t)(a + g_alpha[fy][fx] * (255 - a) / 255);
            if (fx < box[0])
                box[0] = fx;
            if (fy < box[1])
                box[1] = fy;
            if (fx + 1 > box[2])
                box[2] = fx + 1;
            if (fy + 1 > box[3])
                box[3] = fy + 1;
        }
    }
}

/* The box of the canvas as a 4-bit BMP, rows bottom-up; clears the box behind it. */
static int write_bmp(const char* path, const int box[4]) {
    const int w = box[2] - box[0];
    const int h = box[3] - box[1];
    const int stride = (w * 4 + 31) / 32 * 4;
    const size_t header = 14 + 40 + 4 * kPaletteEntries;
    const size_t size = header + (size_t)stride * (size_t)h;
    uint8_t* out = calloc(1, size);
    if (out == NULL) {
        return 0;
    }
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, (uint32_t)size);
    put32(out + 10, (uint32_t)header);
    put32(out + 14, 40);
    put32(out + 18, (uint32_t)w);
    put32(out + 22, (uint32_t)h);
    put16(out + 26, 1);
    put16(out + 28, 4);
    put32(out + 34, (uint32_t)(stride * h));
    put32(out + 38, 2835);
    put32(out + 42, 2835);
    for (int i = 1; i < kPaletteEntries; ++i) {
        const uint8_t grey = (uint8_t)(i * 255 / (kPaletteEntries - 1));
        memset(out + 54 + 4 * i, grey, 3);
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = out + header + (size_t)(h - 1 - y) * (size_t)stride;
        const int fy = box[1] + y;
        for (int x = 0; x < w; ++x) {
            const int fx = box[0] + x;
            unsigned index = 0;
            if (g_alpha[fy][fx] >= 128) {
                const uint8_t* p = g_rgb[fy][fx];
                const unsigned luma = (p[0] * 77u + p[1] * 150u + p[2] * 29u) >> 8;
                index = 1 + luma * (kPaletteEntries - 2) / 255;
            }
            row[x / 2] |= (uint8_t)(x % 2 == 0 ? index << 4 : index);
        }
        memset(g_rgb[fy][box[0]], 0, (size_t)w * 3);
        memset(&g_alpha[fy][box[0]], 0, (size_t)w);
    }
    FILE* f = fopen(path, "wb");
    int ok = f != NULL && fwrite(out, 1, size, f) == size;
    if (f != NULL && fclose(f) != 0) {
        ok = 0;
    }
    free(out);
    return ok;
}

/* libass's log goes nowhere: the harness is timed, not read. */
static void quiet(int level, const char* format, va_list args, void* data) {
    (void)level;
    (void)format;
    (void)args;
    (void)data;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: libass_bmp SCRIPT OUTDIR [--render-only]\n");
        return 2;
    }
    const int render_only = argc > 3 && strcmp(argv[3], "--render-only") == 0;
    ASS_Library* library = ass_library_init();
    if (library != NULL) {
        ass_set_message_cb(library, quiet, NULL);
    }
    ASS_Renderer* renderer = library != NULL ? ass_renderer_init(library) : NULL;
    if (renderer == NULL) {
        fprintf(stderr, "libass_bmp: libass cannot be initialised\n");
        return 1;
    }
    ass_set_frame_size(renderer, kWidth, kHeight);
    ass_set_storage_size(renderer, kWidth, kHeight);
    ass_set_fonts(renderer, NULL, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, NULL, 1);
    ASS_Track* track = ass_read_file(library, argv[1], NULL);
    if (track == NULL) {
        fprintf(stderr, "libass_bmp: cannot read %s\n", argv[1]);
        return 1;
    }
    int written = 0;
    for (int i = 0; i < track->n_events; ++i) {
        int changed = 0;
        const ASS_Image* img = ass_render_frame(renderer, track, track->events[i].Start, &changed);
        if (render_only) {
            continue;
        }
        int box[4] = {kWidth, kHeight, 0, 0};
        for (; img != NULL; img = img->next) {
            blend(img, box);
        }
        if (box[0] >= box[2]) {
            continue;
        }
        char path[4096];
        snprintf(path, sizeof path, "%s/event_%04d.bmp", argv[2], i + 1);
        if (!write_bmp(path, box)) {
            fprintf(stderr, "libass_bmp: cannot write %s\n", path);
            return 1;
        }
        ++written;
    }
    if (!render_only) {
        const int dir = open(argv[2], O_RDONLY | O_DIRECTORY);
        if (dir < 0 || syncfs(dir) != 0) {
            fprintf(stderr, "libass_bmp: cannot sync %s\n", argv[2]);
            return 1;
        }
        close(dir);
    }
    printf("%d\n", written);
    ass_free_track(track);
    ass_renderer_done(renderer);
    ass_library_done(library);
    return 0;
}
