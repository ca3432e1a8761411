#= outer #= inner =# still =#
c = 'a' # c
s = """
# in string
"""
