"""Command line of the Google Cloud Speech-to-Text emulator (see docs/emulators.md).

  /usr/bin/python3 -m google_speech --port 0 [--script FILE] [--record-dir DIR] ...

The first stdout line is "PORT <n>"; then one "RECORD <path>" line per finished stream."""
import argparse
import asyncio
import os
import sys

if __package__ in (None, ""):  # run as a file: make the emulators folder importable
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from emukit import protopath, serve  # noqa: E402
from emukit.records import RecordWriter  # noqa: E402


def parse_args(argv=None):
    p = argparse.ArgumentParser(prog="google_speech", description=__doc__.splitlines()[0])
    p.add_argument("--host", default="127.0.0.1", help="address to bind (loopback)")
    p.add_argument("--port", type=int, default=0, help="port to bind; 0 picks a free one")
    p.add_argument("--port-file", help="also write the bound port to this file (or FIFO)")
    p.add_argument("--tls-cert", help="PEM server certificate chain: serve TLS")
    p.add_argument("--tls-key", help="PEM key of --tls-cert")
    p.add_argument("--require-auth", action="store_true",
                   help="UNAUTHENTICATED for calls without an 'authorization: Bearer' header")
    p.add_argument("--script", help="JSON script of per-stream behaviour")
    p.add_argument("--record-dir", help="write one record per stream here")
    p.add_argument("--local-recognition", action="store_true",
                   help="streams without a script entry are recognized with pocketsphinx")
    p.add_argument("--audio-timeout-ms", type=float, default=10000,
                   help="OUT_OF_RANGE after this long without audio (service: about 10 s)")
    p.add_argument("--max-stream-ms", type=float, default=305000,
                   help="OUT_OF_RANGE once a stream is this old (service: 305 s)")
    p.add_argument("--blackhole", action="store_true",
                   help="accept TCP connections and never answer (no gRPC at all)")
    p.add_argument("--proto-python", help="folder of the generated Python protocol code")
    return p.parse_args(argv)


async def serve_speech(args):
    import grpc

    from google.cloud.speech.v1 import cloud_speech_pb2 as v1, cloud_speech_pb2_grpc as v1_grpc
    from google.cloud.speech.v1p1beta1 import cloud_speech_pb2 as b1, cloud_speech_pb2_grpc as b1_grpc
    from google_speech import local_recognition, script, service

    apis = [service.Api("v1", v1, v1_grpc), service.Api("v1p1beta1", b1, b1_grpc)]
    try:
        scripts = script.ScriptSource(args.script, set(apis[0].speech_events),
                                      local_by_default=args.local_recognition)
    except (OSError, script.ScriptError) as e:
        raise SystemExit(f"google_speech: {e}")
    recognizer = local_recognition.PocketSphinx()
    problem = recognizer.check()
    if problem:
        if args.local_recognition:
            raise SystemExit(f"google_speech: local recognition unavailable: {problem}")
        recognizer = None
    runtime = service.Runtime(scripts, RecordWriter(args.record_dir), args.audio_timeout_ms,
                              args.max_stream_ms, recognizer, args.require_auth)

    server = grpc.aio.server()
    for api in apis:
        service.add_to_server(server, api, runtime)
    address = f"{args.host}:{args.port}" if ":" not in args.host else f"[{args.host}]:{args.port}"
    tls = serve.read_tls_pair(args.tls_cert, args.tls_key)
    if tls:
        port = server.add_secure_port(address, grpc.ssl_server_credentials([tls]))
    else:
        port = server.add_insecure_port(address)
    if not port:
        raise SystemExit(f"google_speech: cannot bind {address}")
    await server.start()
    serve.announce_port(port, args.port_file)
    serve.log(f"google_speech: serving {'TLS' if tls else 'insecure'} on {args.host}:{port}")
    await serve.wait_for_termination()
    await server.stop(None)


def main(argv=None):
    args = parse_args(argv)

    def run():
        if args.blackhole:
            asyncio.run(serve.serve_blackhole(args.host, args.port, args.port_file))
            return
        protopath.add_generated_path(args.proto_python)
        asyncio.run(serve_speech(args))

    serve.run_main(run, args.port_file)


if __name__ == "__main__":
    main()
