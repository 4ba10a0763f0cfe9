"""Command-line options shared by the end-to-end scripts."""


def add_program_arguments(parser):
    """--program (the zelvo-footswitch2 binary) and --modemlines
    (libzelvo_modemlines.so), both required."""
    parser.add_argument("--program", required=True, help="path of zelvo-footswitch2")
    parser.add_argument("--modemlines", required=True, help="path of libzelvo_modemlines.so")
    return parser
