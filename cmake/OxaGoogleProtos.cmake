# Google's published speech protocol definitions (v1 and v1p1beta1 with the google/api,
# google/rpc and google/longrunning files they import). scripts/fetch-protos.sh unpacks
# the pinned npm package google-proto-files into the build tree; the code generation
# steps below run it again first (a no-op once the tree is there), so a build tree
# configured without scripts/setup.sh works too.
include_guard(DIRECTORY)

set(OXA_GOOGLE_FETCH_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/fetch-protos.sh)
set(OXA_GOOGLE_PROTO_ROOT ${CMAKE_BINARY_DIR}/protos/google-proto-files)

# The speech services and everything they import, apart from google/protobuf (the
# well-known types come with the installed protobuf, so generated code and runtime agree).
set(OXA_GOOGLE_SPEECH_PROTOS
  google/api/annotations.proto
  google/api/client.proto
  google/api/field_behavior.proto
  google/api/http.proto
  google/api/launch_stage.proto
  google/api/resource.proto
  google/cloud/speech/v1/cloud_speech.proto
  google/cloud/speech/v1/resource.proto
  google/cloud/speech/v1p1beta1/cloud_speech.proto
  google/cloud/speech/v1p1beta1/resource.proto
  google/longrunning/operations.proto
  google/rpc/status.proto)

find_path(OXA_PROTOBUF_WKT_DIR google/protobuf/descriptor.proto PATHS /usr/include)
find_program(OXA_PROTOC protoc)
find_program(OXA_GRPC_PYTHON_PLUGIN grpc_python_plugin)

# Include paths for protoc: installed well-known types first, then the fetched tree.
set(OXA_GOOGLE_PROTOC_INCLUDES -I${OXA_PROTOBUF_WKT_DIR} -I${OXA_GOOGLE_PROTO_ROOT})

# oxa_google_protos_python(<target> <outdir>)
# Adds <target> (part of ALL) generating the Python message and gRPC modules of the
# speech protos into <outdir>, which then goes on PYTHONPATH (google.cloud.speech.v1...).
# Uses Debian's protoc with grpc_python_plugin, matching python3-protobuf and
# python3-grpcio; falls back to grpc_tools.protoc where the plugin is missing.
function(oxa_google_protos_python target outdir)
  set(outputs)
  foreach(proto ${OXA_GOOGLE_SPEECH_PROTOS})
    string(REGEX REPLACE "\\.proto$" "" base ${proto})
    list(APPEND outputs ${outdir}/${base}_pb2.py ${outdir}/${base}_pb2_grpc.py)
  endforeach()

  if(OXA_PROTOC AND OXA_GRPC_PYTHON_PLUGIN)
    set(generate ${OXA_PROTOC} ${OXA_GOOGLE_PROTOC_INCLUDES}
        --python_out=${outdir} --grpc_python_out=${outdir}
        --plugin=protoc-gen-grpc_python=${OXA_GRPC_PYTHON_PLUGIN})
  else()
    execute_process(COMMAND ${OXA_PYTHON} -c "import grpc_tools.protoc"
                    RESULT_VARIABLE no_grpc_tools OUTPUT_QUIET ERROR_QUIET)
    if(no_grpc_tools)
      message(WARNING "Neither protoc with grpc_python_plugin nor grpc_tools: ${target} not generated")
      return()
    endif()
    set(generate ${OXA_PYTHON} -m grpc_tools.protoc ${OXA_GOOGLE_PROTOC_INCLUDES}
        --python_out=${outdir} --grpc_python_out=${outdir})
  endif()

  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${OXA_GOOGLE_FETCH_SCRIPT} ${CMAKE_BINARY_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
    COMMAND ${generate} ${OXA_GOOGLE_SPEECH_PROTOS}
    DEPENDS ${OXA_GOOGLE_FETCH_SCRIPT}
    COMMENT "Generating Python code of the Google speech protos"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
