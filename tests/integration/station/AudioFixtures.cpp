// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFixtures.h"

#include <lame/lame.h>
#include <mpg123.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>

namespace fixtures {

namespace {

std::string Id3v2(const std::string& artist, const std::string& title)
{
    auto frame = [](const char* id, const std::string& text) {
        const std::uint32_t size = std::uint32_t(text.size() + 1);
        std::string f(id);
        f += char(size >> 24);
        f += char(size >> 16);
        f += char(size >> 8);
        f += char(size);
        f += std::string(2, '\0');
        f += '\0'; // ISO-8859-1
        return f + text;
    };
    const std::string frames = frame("TIT2", title) + frame("TPE1", artist);
    const std::size_t n = frames.size();
    std::string tag = "ID3";
    tag += char(3);
    tag += char(0);
    tag += char(0);
    tag += char((n >> 21) & 0x7F);
    tag += char((n >> 14) & 0x7F);
    tag += char((n >> 7) & 0x7F);
    tag += char(n & 0x7F);
    return tag + frames;
}

std::string Id3v1(const std::string& title)
{
    std::string tag = "TAG" + title.substr(0, 30);
    tag.resize(128, '\0');
    return tag;
}

} // namespace

Mp3File MakeNoiseMp3(double seconds, int sampleRate, int channels, int kbps,
                     const std::string& artist, const std::string& title)
{
    std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
    lame_set_in_samplerate(lame.get(), sampleRate);
    lame_set_out_samplerate(lame.get(), sampleRate);
    lame_set_num_channels(lame.get(), channels);
    lame_set_mode(lame.get(), channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_brate(lame.get(), kbps);
    lame_set_bWriteVbrTag(lame.get(), 1);
    lame_init_params(lame.get());

    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-8000, 8000);
    const int frames = int(seconds * sampleRate);
    std::vector<short> pcm(std::size_t(frames) * channels);
    for (short& s : pcm)
        s = short(noise(random));

    std::vector<unsigned char> out(std::size_t(frames) * 2 + 7200);
    int size = channels == 2
        ? lame_encode_buffer_interleaved(lame.get(), pcm.data(), frames, out.data(), int(out.size()))
        : lame_encode_buffer(lame.get(), pcm.data(), pcm.data(), frames, out.data(), int(out.size()));
    size += lame_encode_flush(lame.get(), out.data() + size, int(out.size()) - size);
    std::string encoded(reinterpret_cast<const char*>(out.data()), std::size_t(size));

    // LAME leaves room for the Xing frame at the start; fill it in as a file writer would.
    unsigned char xing[2880];
    const std::size_t xingSize = lame_get_lametag_frame(lame.get(), xing, sizeof xing);
    encoded.replace(0, xingSize, reinterpret_cast<const char*>(xing), xingSize);

    Mp3File file;
    file.audio = encoded.substr(xingSize);
    file.tagged = Id3v2(artist, title) + std::string("\x00\xFF\x12junk", 7) + encoded + Id3v1(title);
    return file;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<std::int16_t> DecodeMp3(const std::string& bytes, long& rate, int& channels)
{
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, nullptr), mpg123_delete);
    std::vector<std::int16_t> pcm;
    if (!handle || mpg123_open_feed(handle.get()) != MPG123_OK)
        return pcm;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_feed(handle.get(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned char chunk[16384];
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle.get(), chunk, sizeof chunk, &done);
        pcm.insert(pcm.end(), reinterpret_cast<std::int16_t*>(chunk), reinterpret_cast<std::int16_t*>(chunk + done));
        if (result == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(handle.get(), &rate, &channels, &encoding);
        } else if (result != MPG123_OK) {
            break;
        }
    }
    return pcm;
}

double ToneShare(const std::vector<std::int16_t>& pcm, int channels, long rate, double frequency)
{
    // Goertzel filter over the first channel.
    const double w = 2 * std::numbers::pi * frequency / double(rate);
    double s1 = 0, s2 = 0, total = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < pcm.size(); i += std::size_t(channels), ++n) {
        const double x = pcm[i];
        const double s0 = x + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += x * x;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return total > 0 ? 2 * power / (double(n) * total) : 0;
}

std::size_t LoopPosition(const std::string& audio, const std::string& received)
{
    std::string loop = audio;
    while (loop.size() < received.size() + 2 * audio.size())
        loop += audio;
    return loop.find(received);
}

} // namespace fixtures
