"""Pieces shared by the local service emulators: start-up and port announcement,
TLS credentials, per-stream records and a launcher for tests."""
