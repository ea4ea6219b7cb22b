from google_speech.server import main

main()
