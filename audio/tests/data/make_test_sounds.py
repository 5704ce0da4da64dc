#!/usr/bin/env python3
# Rebuilds the small Ogg Opus files the audio tests and the decoder fuzzer start from.
# Needs the opusenc command. Run from this folder.
import math, os, struct, subprocess, zlib

RATE = 48000

def tone(seconds, freq, amp, channels=1):
    n = int(RATE * seconds)
    out = bytearray()
    for i in range(n):
        v = int(32767 * amp * math.sin(2 * math.pi * freq * i / RATE))
        for c in range(channels):
            out += struct.pack('<h', v if c % 2 == 0 else -v)
    return bytes(out)

def encode(name, pcm, channels):
    subprocess.run(['opusenc', '--quiet', '--raw', '--raw-chan', str(channels), '--serial', '7',
                    '--padding', '0', '--bitrate', str(24 * channels), '-', name],
                   input=pcm, check=True)

def ogg_crc(data):
    crc = 0
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else (crc << 1)
            crc &= 0xFFFFFFFF
    return crc

def pages(data):
    pos = 0
    while pos < len(data):
        assert data[pos:pos + 4] == b'OggS'
        segs = data[pos + 26]
        body = sum(data[pos + 27:pos + 27 + segs])
        end = pos + 27 + segs + body
        yield pos, end
        pos = end

def forge_length(src, dst, extra):
    # Raises the final page's granule position: the stream announces more samples than it has.
    data = bytearray(open(src, 'rb').read())
    last = list(pages(data))[-1][0]
    end = list(pages(data))[-1][1]
    granule = struct.unpack_from('<q', data, last + 6)[0] + extra
    struct.pack_into('<q', data, last + 6, granule)
    struct.pack_into('<I', data, last + 22, 0)
    struct.pack_into('<I', data, last + 22, ogg_crc(bytes(data[last:end])))
    open(dst, 'wb').write(data)

def gap_timeline(src, dst, extra):
    # From the middle page on, every granule position jumps ahead by extra: the stream announces
    # more samples than its packets hold, so decoding runs dry before the announced length.
    data = bytearray(open(src, 'rb').read())
    all_pages = list(pages(data))
    for start, end in all_pages[len(all_pages) // 2:]:
        granule = struct.unpack_from('<q', data, start + 6)[0]
        if granule >= 0:
            struct.pack_into('<q', data, start + 6, granule + extra)
        struct.pack_into('<I', data, start + 22, 0)
        struct.pack_into('<I', data, start + 22, ogg_crc(bytes(data[start:end])))
    open(dst, 'wb').write(data)

encode('tone_mono.opus', tone(0.5, 440, 0.5), 1)
encode('click_mono.opus', tone(0.05, 880, 0.5), 1)
encode('tone_stereo.opus', tone(0.3, 330, 0.5, 2), 2)
encode('tone_three.opus', tone(0.2, 550, 0.5, 3), 3)
whole = open('tone_mono.opus', 'rb').read()
open('truncated.opus', 'wb').write(whole[:len(whole) // 2])
forge_length('tone_mono.opus', 'forged_length.opus', RATE * 10)
# The same tone over several pages (a page every 100 ms), with a gap in its timeline.
subprocess.run(['opusenc', '--quiet', '--raw', '--raw-chan', '1', '--serial', '7', '--padding', '0',
                '--bitrate', '24', '--max-delay', '100', '-', 'paged.tmp'], input=tone(0.5, 440, 0.5), check=True)
gap_timeline('paged.tmp', 'timeline_gap.opus', RATE * 10)
os.remove('paged.tmp')
# A mono stream chained to a stereo one: the channel count changes inside the file.
encode('stereo.tmp', tone(0.3, 330, 0.5, 2), 2)
data = open('stereo.tmp', 'rb').read()
chained = bytearray(data)
for start, end in pages(data):  # a chained link needs its own serial number
    struct.pack_into('<I', chained, start + 14, 8)
    struct.pack_into('<I', chained, start + 22, 0)
    struct.pack_into('<I', chained, start + 22, ogg_crc(bytes(chained[start:end])))
open('chained_mono_stereo.opus', 'wb').write(open('tone_mono.opus', 'rb').read() + chained)
os.remove('stereo.tmp')
open('random.bin', 'wb').write(bytes((i * 7919 + 13) % 251 for i in range(4096)))
