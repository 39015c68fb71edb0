"""python -m qdparse scan URL... [--scheduler ADDRESS] [--format csv|jsonl] [-o OUT]

Reads every file the paths or globs name (any fsspec URL; folders are walked)
on a Dask cluster, or on local processes without --scheduler, and writes one
row per file sorted by path, as `qdparse scan` does."""

import argparse
import json
import sys


def _expand(urls):
    from fsspec.core import url_to_fs

    paths = []
    for url in urls:
        fs, path = url_to_fs(url)
        protocol = fs.protocol if isinstance(fs.protocol, str) else fs.protocol[0]
        prefix = "" if protocol in ("file", "local") else protocol + "://"
        if fs.isdir(path):
            paths += [prefix + p for p in fs.find(path)]
        else:
            paths += [prefix + p for p in fs.glob(path)]
    return sorted(set(paths))


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m qdparse")
    sub = parser.add_subparsers(dest="command", required=True)
    scan = sub.add_parser("scan", help="describe every file under paths or globs, one row per file")
    scan.add_argument("url", nargs="+")
    scan.add_argument("--scheduler", help="address of a Dask scheduler (default: local processes)")
    scan.add_argument("--format", choices=["csv", "jsonl"], default="csv")
    scan.add_argument("-o", "--output", default="-")
    args = parser.parse_args(argv)

    from . import dask as qd_dask

    paths = _expand(args.url)
    if not paths:
        print("qdparse: no files", file=sys.stderr)
        return 1
    client = None
    if args.scheduler:
        from distributed import Client

        client = Client(args.scheduler)
    try:
        frame = qd_dask.read_metadata(paths).compute(**({} if client else {"scheduler": "processes"}))
    finally:
        if client is not None:
            client.close()
    out = sys.stdout if args.output == "-" else open(args.output, "x", newline="")
    try:
        if args.format == "csv":
            frame.drop(columns=["errorCode", "bytesRead"]).to_csv(out, index=False)
        else:
            for record in frame.to_dict(orient="records"):
                out.write(json.dumps({k: (None if v is None or v != v else v) for k, v in record.items()},
                                     default=int) + "\n")
    finally:
        if out is not sys.stdout:
            out.close()
    refused = int(frame["errorCode"].notna().sum())
    print(f"scan: {len(frame)} files, {refused} refused", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
