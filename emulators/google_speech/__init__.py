"""Local stand-in for Google Cloud Speech-to-Text StreamingRecognize (v1, v1p1beta1)."""
