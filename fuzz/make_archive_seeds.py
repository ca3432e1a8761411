#!/usr/bin/env python3
"""Writes the small seed archives of the tar and zip fuzz targets into
fuzz/corpus/tar/ and fuzz/corpus/zip/. Deterministic (fixed times, no host names),
so running it again changes nothing. Each seed stays under a few KiB: tar archives
end with a single zero block instead of a full 10 KiB record."""
import gzip
import io
import os
import struct
import tarfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TIME = 1700000000


def member(name, data=b'', kind=tarfile.REGTYPE, link=''):
    info = tarfile.TarInfo(name)
    info.size = len(data) if kind in (tarfile.REGTYPE, tarfile.CONTTYPE) else 0
    info.type = kind
    info.linkname = link
    info.mtime = TIME
    info.uname = 'dev'
    info.gname = 'dev'
    return info, (io.BytesIO(data) if info.size else None)


def tar_of(members, fmt=tarfile.USTAR_FORMAT, pax_headers=None):
    buffer = io.BytesIO()
    archive = tarfile.open(fileobj=buffer, mode='w', format=fmt, pax_headers=pax_headers or {})
    for info, data in members:
        archive.addfile(info, data)
    end = archive.offset
    archive.close()
    return buffer.getvalue()[:end] + bytes(512)


def gzip_of(data, name):
    buffer = io.BytesIO()
    with gzip.GzipFile(filename=name, mode='wb', fileobj=buffer, mtime=TIME) as out:
        out.write(data)
    return buffer.getvalue()


def zip_of(files, comment=b''):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as archive:
        for name, data, method in files:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
            info.compress_type = method
            archive.writestr(info, data)
        archive.comment = comment
    return buffer.getvalue()


def with_zip64_end(data):
    at = data.rfind(b'PK\x05\x06')
    _, _, _, count, size, offset, _ = struct.unpack('<HHHHIIH', data[at + 4:at + 22])
    record = struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack('<IIQI', 0x07064B50, 0, at, 1)
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:at] + record + locator + end


def crc_step(key, byte):
    return zlib.crc32(bytes([byte]), key ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


def encrypt(data):
    keys = [0x12345678, 0x23456789, 0x34567890]
    out = bytearray()
    for plain in data:
        t = (keys[2] | 2) & 0xFFFF
        out.append(plain ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        keys[0] = crc_step(keys[0], plain)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = crc_step(keys[2], keys[1] >> 24)
    return bytes(out)


def encrypted_zip():
    plain = b'int hidden;\n'
    crc = zlib.crc32(plain)
    name = b'secret.c'
    data = encrypt(bytes(range(11)) + bytes([crc >> 24]) + plain)
    fields = struct.pack('<HHHHHIII', 20, 1, 0, 0, 0, crc, len(data), len(plain))
    local = struct.pack('<I', 0x04034B50) + fields + struct.pack('<HH', len(name), 0) + name + data
    central = struct.pack('<IH', 0x02014B50, 20) + fields
    central += struct.pack('<HHHHHII', len(name), 0, 0, 0, 0, 0, 0) + name
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)
    return local + central + end


def gnu_sparse(name, data, map_blocks):
    """An old GNU sparse member ('S') whose sparse map goes on in map_blocks blocks."""
    header = bytearray(512)
    header[0:len(name)] = name
    header[100:108] = b'0000644\0'
    header[124:136] = b'%011o\0' % len(data)
    header[136:148] = b'%011o\0' % TIME
    header[156:157] = b'S'
    header[257:265] = b'ustar  \0'
    header[386:410] = b'%011o\0%011o\0' % (0, len(data))
    header[482] = 1 if map_blocks else 0
    header[483:495] = b'%011o\0' % (len(data) * 4)
    header[148:156] = b' ' * 8
    header[148:156] = b'%06o\0 ' % sum(header)
    maps = b''.join(bytes(504) + bytes([1 if i + 1 < map_blocks else 0]) + bytes(7) for i in range(map_blocks))
    return bytes(header) + maps + data + bytes(-len(data) % 512)


def tar_seeds():
    text = b'int main(void) {\n  return 0;\n}\n'
    plain = tar_of([member('src/main.c', text), member('README', b'hello\n')])
    yield 'ustar_prefix', tar_of([member('d' * 120 + '/' + 'n' * 98 + '.c', text)])
    yield 'pax_long_name', tar_of([member('p' * 150 + '.py', b'x = 1\n')], fmt=tarfile.PAX_FORMAT)
    yield 'pax_global', tar_of([member('g.c', text)], fmt=tarfile.PAX_FORMAT, pax_headers={'comment': 'seed'})
    yield 'gnu_long_names', tar_of([member('l' * 130 + '.h', text),
                                    member('link', kind=tarfile.SYMTYPE, link='t' * 120)], fmt=tarfile.GNU_FORMAT)
    yield 'types', tar_of([member('dir', kind=tarfile.DIRTYPE), member('hard', kind=tarfile.LNKTYPE, link='dir'),
                           member('fifo', kind=tarfile.FIFOTYPE), member('contig.c', text, tarfile.CONTTYPE)])
    yield 'gzip', gzip_of(plain, 'plain.tar')
    yield 'gzip_members', gzip_of(plain[:700], 'one') + gzip_of(plain[700:], 'two')
    yield 'gnu_sparse', gnu_sparse(b'sparse.c', text, 2) + plain
    yield 'nested', tar_of([member('inner.tar', plain), member('inner.tgz', gzip_of(plain, '')),
                            member('inner.zip', zip_of([('z.c', text, zipfile.ZIP_STORED)])),
                            member('after.c', text)])


def zip_seeds():
    text = b'def f():\n    return 1\n' * 4
    yield 'stored_deflated', zip_of([('a.py', text, zipfile.ZIP_STORED), ('src/b.py', text, zipfile.ZIP_DEFLATED)])
    yield 'dirs_duplicates_comment', zip_of([('d/', b'', zipfile.ZIP_STORED), ('x.c', b'1\n', zipfile.ZIP_STORED),
                                             ('x.c', b'22\n', zipfile.ZIP_DEFLATED)], comment=b'seed comment')
    yield 'zip64_end', with_zip64_end(zip_of([('z.c', text, zipfile.ZIP_DEFLATED)]))
    yield 'encrypted', encrypted_zip()
    yield 'other_methods', zip_of([('bz.c', b'b\n', zipfile.ZIP_BZIP2), ('ok.c', b'o\n', zipfile.ZIP_STORED)])
    misplaced = bytearray(zip_of([('a.c', b'a\n', zipfile.ZIP_STORED), ('b.c', b'b\n', zipfile.ZIP_STORED)]))
    second = misplaced.rfind(b'PK\x01\x02')
    misplaced[second + 42:second + 46] = struct.pack('<I', 1)  # not a local header
    yield 'misplaced_local_header', bytes(misplaced)
    yield 'nested', zip_of([('inner.tar', tar_of([member('t.c', b't\n')]), zipfile.ZIP_DEFLATED),
                            ('after.c', b'a\n', zipfile.ZIP_STORED)])


def main():
    import warnings
    warnings.simplefilter('ignore')  # duplicate names are made on purpose
    for target, seeds in (('tar', tar_seeds()), ('zip', zip_seeds())):
        directory = os.path.join(HERE, 'corpus', target)
        os.makedirs(directory, exist_ok=True)
        for name, data in seeds:
            with open(os.path.join(directory, name), 'wb') as out:
                out.write(data)


if __name__ == '__main__':
    main()
