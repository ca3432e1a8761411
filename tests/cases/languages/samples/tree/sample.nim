#[ outer #[ inner ]# still ]#
let c = 'a' # c
let s = """
# in
"""
